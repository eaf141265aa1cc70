// CWnd wrappers and the subclass procedure that routes a control's messages around its own
// processing, and the edit control's erase.
//
// Subclassing swaps the control's window procedure and keeps this object in the window's
// GWLP_USERDATA, both set once: every later message finds its object with an in-process read.
// (SetWindowSubclass keeps its chain in a window property, which costs a round trip to the Wine
// server on every message.) The procedure is Unicode like the control's own, so messages pass
// to it without a second conversion.
// https://learn.microsoft.com/windows/win32/winmsg/about-window-procedures#window-procedure-subclassing
#include "wnd.h"

#include "callback_guard.h"
#include "controls.h"
#include "gdi.h"

#include <utility>

CWnd::~CWnd()
{
    UnsubclassWindow();
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

void CWnd::SetWindowText(const char* text) const
{
    ::SetWindowTextA(m_hWnd, text);
}

HWND CWnd::GetDlgItem(int id) const
{
    return ::GetDlgItem(m_hWnd, id);
}

void CWnd::SetDlgItemText(int id, const char* text) const
{
    ::SetDlgItemTextA(m_hWnd, id, text);
}

bool CWnd::IsIconic() const
{
    return ::IsIconic(m_hWnd) != FALSE;
}

RECT CWnd::GetClientRect() const
{
    RECT rect{};
    ::GetClientRect(m_hWnd, &rect);
    return rect;
}

CMenu CWnd::GetSystemMenu(bool revert) const
{
    return CMenu(::GetSystemMenu(m_hWnd, revert ? TRUE : FALSE));
}

void CWnd::SetIcon(HICON icon, bool big) const
{
    SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

void CWnd::Default()
{
    if (m_current)
        m_current->declined = true;
}

bool CWnd::RouteCurrent(MessageContext& context, When when)
{
    // Handlers may send messages that come back here; each level keeps its own context.
    struct CurrentMessage {
        MessageContext*& slot;
        MessageContext* outer;
        ~CurrentMessage() { slot = outer; }
    } current{m_current, std::exchange(m_current, &context)};
    return RouteMessage(context, when);
}

bool CWnd::SubclassWindow(HWND window)
{
    if (!window || m_hWnd)
        return false;
    if (!GetMessageMap()) {
        m_hWnd = window; // nothing to route: no procedure of ours in the control's way
        return true;
    }
    if (GetWindowLongPtrW(window, GWLP_USERDATA) != 0)
        return false; // the slot belongs to someone else
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_original = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::SubclassProc)));
    if (!m_original) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        return false;
    }
    m_hWnd = window;
    return true;
}

void CWnd::UnsubclassWindow()
{
    if (m_original && m_hWnd) {
        // Only while this procedure is the one installed: restoring under a later subclass
        // would cut that one off.
        if (GetWindowLongPtrW(m_hWnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&CWnd::SubclassProc))
            SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_original));
        SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
    }
    m_original = nullptr;
    m_hWnd = nullptr;
}

LRESULT CALLBACK CWnd::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<CWnd*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self || !self->m_original) // detached under a later subclass
        return DefWindowProcW(window, message, wParam, lParam);
    return self->WindowProc(window, message, wParam, lParam);
}

LRESULT CWnd::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const WNDPROC original = m_original;
    if (message == WM_NCDESTROY) {
        // Restore the control's procedure while the handle is valid, then let it finish.
        UnsubclassWindow();
        return CallWindowProcW(original, window, message, wParam, lParam);
    }
    MessageContext context{message, wParam, lParam};
    const bool taken = framework::guardCallback(false, [&] { return RouteCurrent(context, When::Instead); });
    if (taken)
        return context.result;
    // https://learn.microsoft.com/windows/win32/api/winuser/nf-winuser-callwindowprocw
    const LRESULT result = CallWindowProcW(original, window, message, wParam, lParam);
    // AfterDefault handlers run as soon as the control's own processing returns (the password
    // fields read the counter first thing in theirs); the control's result stands.
    MessageContext after{message, wParam, lParam, result};
    framework::guardCallback(false, [&] { return RouteCurrent(after, When::AfterDefault); });
    return result;
}

void CEdit::EraseText() const
{
    const int length = ::GetWindowTextLengthA(m_hWnd);
    if (length > 0) {
        const std::string filler(static_cast<std::size_t>(length), '*');
        ::SetWindowTextA(m_hWnd, filler.c_str());
    }
    ::SetWindowTextA(m_hWnd, "");
}
