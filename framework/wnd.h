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
    ~CWnd() override; // restores a subclassed control's own procedure if still installed

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

    // Attaches this object to an existing control. A class with a message table gets the
    // control's messages: Instead entries before the control's own procedure, AfterDefault
    // entries after it. The control's procedure is restored at WM_NCDESTROY, or when this
    // object goes first. A class without a table only keeps the handle.
    bool SubclassWindow(HWND window);

protected:
    // From a message handler: leave the current message to the window's default processing
    // (the control's own procedure, or the dialog manager's), which runs once the handler
    // returns. In an AfterDefault handler the default has already run; declining only lets
    // the search go on.
    void Default();

    // Routes one message through the tables with the current-message slot that Default() uses.
    bool RouteCurrent(MessageContext& context, When when);

    HWND m_hWnd = nullptr;

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void UnsubclassWindow();

    WNDPROC m_original = nullptr; // the control's own procedure while subclassed
    MessageContext* m_current = nullptr; // the message being handled, for Default()
};
