// The two masked password fields. Each watches its own key presses and releases: after the
// edit control has processed a key, it stamps the main window's clock, and on a release it
// asks the main window to file the timings. System keys (WM_SYSKEYDOWN/UP) are not watched.
#pragma once

#include "controls.h"

// Field 1001, "Enter password:".
class CEnteredEdit : public CEdit {
public:
    const MessageMap* GetMessageMap() const override { return messageMap(); }
    static const MessageMap* messageMap();

protected:
    void OnKeyDown(UINT key, UINT repeatCount, UINT flags);
    void OnKeyUp(UINT key, UINT repeatCount, UINT flags);
};

// Field 1003, "Re-enter password:".
class CReenteredEdit : public CEdit {
public:
    const MessageMap* GetMessageMap() const override { return messageMap(); }
    static const MessageMap* messageMap();

protected:
    void OnKeyDown(UINT key, UINT repeatCount, UINT flags);
    void OnKeyUp(UINT key, UINT repeatCount, UINT flags);
};
