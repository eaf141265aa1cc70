// Key handlers of the password fields. The subclass procedure calls them after the edit control
// has processed the key, so on a release the field's text already includes the typed character.
#include "password_edit.h"

#include "app.h"
#include "typing_dlg.h"

namespace {

// Stamps the clock of the application's main window (looked up through the application object,
// not the parent) and returns that window; nullptr if the main window is not a CTypingDlg.
CTypingDlg* stampMainWindowClock()
{
    CWinApp* app = AfxGetApp();
    auto* dialog = app ? dynamic_cast<CTypingDlg*>(app->GetMainWnd()) : nullptr;
    if (dialog)
        dialog->stampClock();
    return dialog;
}

} // namespace

const MessageMap* CEnteredEdit::messageMap()
{
    static constexpr MessageEntry entries[] = {
        onKeyDown<&CEnteredEdit::OnKeyDown>(),
        onKeyUp<&CEnteredEdit::OnKeyUp>(),
    };
    static constexpr MessageMap map = makeMessageMap(nullptr, entries);
    return &map;
}

void CEnteredEdit::OnKeyDown(UINT, UINT, UINT)
{
    stampMainWindowClock();
}

void CEnteredEdit::OnKeyUp(UINT, UINT, UINT)
{
    if (CTypingDlg* dialog = stampMainWindowClock())
        dialog->onEnteredKeyUp();
}

const MessageMap* CReenteredEdit::messageMap()
{
    static constexpr MessageEntry entries[] = {
        onKeyDown<&CReenteredEdit::OnKeyDown>(),
        onKeyUp<&CReenteredEdit::OnKeyUp>(),
    };
    static constexpr MessageMap map = makeMessageMap(nullptr, entries);
    return &map;
}

void CReenteredEdit::OnKeyDown(UINT, UINT, UINT)
{
    stampMainWindowClock();
}

void CReenteredEdit::OnKeyUp(UINT, UINT, UINT)
{
    if (CTypingDlg* dialog = stampMainWindowClock())
        dialog->onReenteredKeyUp();
}
