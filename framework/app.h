// CWinApp: the one application object. The program defines a single global instance of a
// class derived from it; the entry point (AfxWinMain) finds it and calls its InitInstance.
#pragma once

#include "wnd.h"

#include <windows.h>

// WM_COMMAND identifier of the Help command.
constexpr UINT ID_HELP = 0xE146;

class CWinApp : public CCmdTarget {
public:
    CWinApp();  // registers this object as the application
    ~CWinApp() override;

    // Called once at start-up. The program runs inside it; it returns FALSE to end the run.
    virtual BOOL InitInstance() { return FALSE; }

    CWnd* GetMainWnd() const { return m_pMainWnd; }
    HICON LoadIcon(UINT id) const;

    // Dialogs already get the system's current control look; nothing to switch on.
    void Enable3dControls() {}
    // The program ships no help file, so the Help command does nothing.
    void OnHelp() {}

    HINSTANCE m_hInstance = nullptr;
    CWnd* m_pMainWnd = nullptr; // the window the password fields and the About box look up
};

// The application object, or nullptr if the program defines none.
CWinApp* AfxGetApp();
// The module whose resources the dialogs and icons come from.
HINSTANCE AfxGetInstanceHandle();

// Prepares the application object: records the instance and registers the common control
// classes (the trackbar) that dialog templates use. Called by AfxWinMain, and by tests.
bool AfxInitApplication(CWinApp& app, HINSTANCE instance);

// The program's entry: prepares the application and runs InitInstance. The program's whole
// life is inside InitInstance (a modal dialog), so there is no message pump after it.
int AfxWinMain(HINSTANCE instance);
