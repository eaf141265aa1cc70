// The two masked password fields. Each watches its own key presses and releases: after the
// edit control has processed a key, it stamps the main window's clock, and on a release it
// hands over to the main window's routine for that field. System keys (WM_SYSKEYDOWN/UP) are
// not watched.
#pragma once

#include "controls.h"

// What the fields need of the application's main window.
class PasswordFieldOwner {
public:
    // Called for every key press and release a field processes.
    virtual void stampClock() = 0;
    // Called after the stamp of a key release in the Entered or the Re-entered field.
    virtual void onEnteredKeyUp() = 0;
    virtual void onReenteredKeyUp() = 0;

protected:
    ~PasswordFieldOwner() = default;
};

class CPasswordEdit : public CEdit {
public:
    const MessageMap* GetMessageMap() const override;

protected:
    void OnKeyDown(UINT key, UINT repeatCount, UINT flags);
    void OnKeyUp(UINT key, UINT repeatCount, UINT flags);

private:
    // Called after the clock's stamp of a key release in this field.
    virtual void onRelease(PasswordFieldOwner& owner) = 0;
};

// Field 1001, "Enter password:".
class CEnteredEdit final : public CPasswordEdit {
    void onRelease(PasswordFieldOwner& owner) override;
};

// Field 1003, "Re-enter password:".
class CReenteredEdit final : public CPasswordEdit {
    void onRelease(PasswordFieldOwner& owner) override;
};
