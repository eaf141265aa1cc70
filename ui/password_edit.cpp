// Key handlers of the password fields. They run as soon as the edit control has processed the
// key, so on a release the field's text already includes the typed character, and nothing but
// the main window's lookup (in memory) comes between that processing and the counter reading.
#include "password_edit.h"

#include "app.h"

namespace {

// Stamps the clock of the application's main window (looked up through the application object,
// not the parent) and returns that window; nullptr if the main window does not own the fields.
PasswordFieldOwner* stampMainWindowClock()
{
    CWinApp* app = AfxGetApp();
    auto* owner = app ? dynamic_cast<PasswordFieldOwner*>(app->GetMainWnd()) : nullptr;
    if (owner)
        owner->stampClock();
    return owner;
}

} // namespace

const MessageMap* CPasswordEdit::GetMessageMap() const
{
    static constexpr MessageEntry entries[] = {
        handle<&CPasswordEdit::OnKeyDown, KeyParams>(onMessage(WM_KEYDOWN), When::AfterDefault),
        handle<&CPasswordEdit::OnKeyUp, KeyParams>(onMessage(WM_KEYUP), When::AfterDefault),
    };
    static constexpr MessageMap map = makeMessageMap(nullptr, entries);
    return &map;
}

void CPasswordEdit::OnKeyDown(UINT, UINT, UINT)
{
    stampMainWindowClock();
}

void CPasswordEdit::OnKeyUp(UINT, UINT, UINT)
{
    if (PasswordFieldOwner* owner = stampMainWindowClock())
        onRelease(*owner);
}

void CEnteredEdit::onRelease(PasswordFieldOwner& owner)
{
    owner.onEnteredKeyUp();
}

void CReenteredEdit::onRelease(PasswordFieldOwner& owner)
{
    owner.onReenteredKeyUp();
}
