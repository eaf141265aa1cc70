// Start-up: the one application object and its InitInstance.
#include "typrova_app.h"

#include "typing_dlg.h"

CTypingApp theApp;

const MessageMap* CTypingApp::GetMessageMap() const
{
    static constexpr MessageEntry entries[] = {
        handle<&CWinApp::OnHelp>(onCommand(ID_HELP)),
    };
    static constexpr MessageMap map = makeMessageMap(nullptr, entries);
    return &map;
}

BOOL CTypingApp::InitInstance()
{
    Enable3dControls();

    CTypingDlg dialog;
    m_pMainWnd = &dialog;
    dialog.DoModal(); // "Close", Enter and Escape all end the program the same way
    m_pMainWnd = nullptr;

    // The main window is gone: end the application instead of starting a message pump.
    return FALSE;
}
