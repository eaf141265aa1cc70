// Small handle wrappers: a paint device context (BeginPaint/EndPaint for one WM_PAINT) and a
// non-owning menu handle (the system menu belongs to its window).
#pragma once

#include <windows.h>

class CPaintDC {
public:
    explicit CPaintDC(HWND window) : m_window(window), m_hDC(BeginPaint(window, &m_paint)) {}
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;
    ~CPaintDC() { EndPaint(m_window, &m_paint); }

    HDC GetSafeHdc() const { return m_hDC; }
    bool DrawIcon(int x, int y, HICON icon) const { return ::DrawIcon(m_hDC, x, y, icon) != FALSE; }

private:
    HWND m_window;
    PAINTSTRUCT m_paint{};
    HDC m_hDC;
};

class CMenu {
public:
    explicit CMenu(HMENU menu) : m_hMenu(menu) {}
    explicit operator bool() const { return m_hMenu != nullptr; }
    HMENU GetSafeHmenu() const { return m_hMenu; }
    bool AppendMenu(UINT flags, UINT_PTR id = 0, const char* text = nullptr) const
    {
        return ::AppendMenuA(m_hMenu, flags, id, text) != FALSE;
    }

private:
    HMENU m_hMenu;
};
