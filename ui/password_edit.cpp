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

const MessageMap* CPasswordEdit::messageMap()
{
    static constexpr MessageEntry entries[] = {
        onKeyDown<&CPasswordEdit::OnKeyDown>(),
        onKeyUp<&CPasswordEdit::OnKeyUp>(),
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
    if (CTypingDlg* dialog = stampMainWindowClock())
        onRelease(*dialog);
}

void CEnteredEdit::onRelease(CTypingDlg& dialog)
{
    dialog.onEnteredKeyUp();
}

void CReenteredEdit::onRelease(CTypingDlg& dialog)
{
    dialog.onReenteredKeyUp();
}
