// CWnd wrappers and the subclass procedure that routes a control's messages after its own
// processing; the edit control's erase.
#include "wnd.h"

#include "callback_guard.h"
#include "controls.h"
#include "gdi.h"

#include <commctrl.h>

namespace {
constexpr UINT_PTR kSubclassId = 1;
}

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

bool CWnd::SubclassWindow(HWND window)
{
    if (!window || m_hWnd)
        return false;
    if (!SetWindowSubclass(window, &CWnd::SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this)))
        return false;
    m_hWnd = window;
    m_subclassed = true;
    return true;
}

void CWnd::UnsubclassWindow()
{
    if (m_subclassed && m_hWnd)
        RemoveWindowSubclass(m_hWnd, &CWnd::SubclassProc, kSubclassId);
    m_subclassed = false;
    m_hWnd = nullptr;
}

LRESULT CALLBACK CWnd::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                    UINT_PTR, DWORD_PTR selfPointer)
{
    auto* self = reinterpret_cast<CWnd*>(selfPointer);
    if (message == WM_NCDESTROY) {
        // Unsubclass while the handle is still valid, then let the control finish.
        self->UnsubclassWindow();
        return DefSubclassProc(window, message, wParam, lParam);
    }
    const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    framework::guardCallback(false, [&] {
        MessageContext context{message, wParam, lParam};
        return self->RouteMessage(context);
    });
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
