// CWnd: a non-owning C++ object for one window handle, with thin wrappers over the calls the
// program makes, and subclassing of controls into their C++ objects.
#pragma once

#include "message_map.h"
#include "secret_text.h"

#include <windows.h>

#include <string>

class CMenu;

class CWnd : public CCmdTarget {
public:
    CWnd() = default;
    ~CWnd() override; // removes a subclass that is still installed

    HWND GetSafeHwnd() const { return m_hWnd; }

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    void SetWindowText(const char* text) const;
    void SetWindowText(const std::string& text) const { SetWindowText(text.c_str()); }
    // The window's text, in a buffer that is wiped when it goes out of scope.
    SecretText GetSecretText() const { return SecretText(m_hWnd); }
    HWND GetDlgItem(int id) const;
    void SetDlgItemText(int id, const char* text) const;
    void SetDlgItemText(int id, const std::string& text) const { SetDlgItemText(id, text.c_str()); }
    bool IsIconic() const;
    RECT GetClientRect() const;
    CMenu GetSystemMenu(bool revert) const;
    void SetIcon(HICON icon, bool big) const;

    // Attaches this object to an existing control: every message reaches the control's own
    // procedure first and is then routed through this object's message tables, whose
    // handlers therefore run after the default processing. Detaches at WM_NCDESTROY.
    bool SubclassWindow(HWND window);

protected:
    HWND m_hWnd = nullptr;

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR self);
    void UnsubclassWindow();
    bool m_subclassed = false;
};
