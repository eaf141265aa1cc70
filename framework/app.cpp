// The application object registry, start-up and the entry routine.
#include "app.h"

#include <commctrl.h>

namespace {
CWinApp* g_app = nullptr; // constant-initialised, so it is null before any constructor runs
}

CWinApp::CWinApp()
{
    if (!g_app)
        g_app = this;
}

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

HICON CWinApp::LoadIcon(UINT id) const
{
    return ::LoadIconA(m_hInstance ? m_hInstance : AfxGetInstanceHandle(), MAKEINTRESOURCEA(id));
}

CWinApp* AfxGetApp()
{
    return g_app;
}

HINSTANCE AfxGetInstanceHandle()
{
    if (g_app && g_app->m_hInstance)
        return g_app->m_hInstance;
    return GetModuleHandleA(nullptr);
}

bool AfxInitApplication(CWinApp& app, HINSTANCE instance)
{
    app.m_hInstance = instance;
    // A dialog whose template names an unregistered class fails to open at all.
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_BAR_CLASSES;
    return InitCommonControlsEx(&controls) != FALSE;
}

int AfxWinMain(HINSTANCE instance)
{
    CWinApp* app = AfxGetApp();
    if (!app)
        return 1;
    try {
        AfxInitApplication(*app, instance);
        app->InitInstance();
        return 0;
    } catch (...) {
        return 1;
    }
}
