// CDialog: modal run from a template, object attachment, message dispatch and centring.
#include "dialog.h"

#include "app.h"
#include "callback_guard.h"

#include <algorithm>

HWND CDataExchange::control(int id) const
{
    return dialog.GetDlgItem(id);
}

void DDX_Control(CDataExchange& exchange, int id, CWnd& control)
{
    if (!control.GetSafeHwnd())
        control.SubclassWindow(exchange.control(id));
}

INT_PTR dialogProcResult(HWND dialog, UINT message, LRESULT result)
{
    switch (message) {
    case WM_CHARTOITEM:
    case WM_COMPAREITEM:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_INITDIALOG:
    case WM_QUERYDRAGICON:
    case WM_VKEYTOITEM:
        return static_cast<INT_PTR>(result);
    default:
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, result);
        return TRUE;
    }
}

const MessageMap* CDialog::GetMessageMap() const
{
    static constexpr MessageEntry entries[] = {
        handle<&CDialog::OnOK>(onClicked(IDOK)),
        handle<&CDialog::OnCancel>(onClicked(IDCANCEL)),
    };
    static constexpr MessageMap map = makeMessageMap(nullptr, entries);
    return &map;
}

INT_PTR CDialog::DoModal()
{
    const INT_PTR result =
        DialogBoxParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(m_templateId), OwnerWindow(),
                        &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    framework::rethrowCallbackException();
    return result;
}

void CDialog::EndDialog(INT_PTR result) const
{
    ::EndDialog(m_hWnd, result);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return framework::guardCallback<INT_PTR>(FALSE, [&]() -> INT_PTR {
        if (message == WM_INITDIALOG)
            return reinterpret_cast<CDialog*>(lParam)->InitDialog(window);
        // Messages before WM_INITDIALOG (WM_SETFONT, ...) and after WM_NCDESTROY find no object.
        auto* self = reinterpret_cast<CDialog*>(GetWindowLongPtrA(window, DWLP_USER));
        if (!self)
            return FALSE;
        return self->Dispatch(message, wParam, lParam);
    });
}

BOOL CDialog::InitDialog(HWND window)
{
    m_hWnd = window;
    SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(this));
    CDataExchange exchange{*this};
    DoDataExchange(exchange);
    const BOOL defaultFocus = OnInitDialog();
    CenterWindow();
    return defaultFocus;
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam)
{
    const HWND window = m_hWnd;
    MessageContext context{message, wParam, lParam};
    // The dialog manager calls this procedure before its own processing, which runs when the
    // procedure returns FALSE: every dialog entry is an Instead entry.
    bool handled = RouteCurrent(context, When::Instead);
    // Commands the dialog does not take go on to the application object.
    if (!handled && message == WM_COMMAND)
        if (CWinApp* app = AfxGetApp())
            handled = app->RouteMessage(context);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, DWLP_USER, 0);
        m_hWnd = nullptr;
    }
    return handled ? dialogProcResult(window, message, context.result) : FALSE;
}

HWND CDialog::OwnerWindow() const
{
    if (m_parent)
        return m_parent->GetSafeHwnd();
    const CWinApp* app = AfxGetApp();
    const CWnd* main = app ? app->GetMainWnd() : nullptr;
    if (!main || main == this || !main->GetSafeHwnd())
        return nullptr;
    return GetAncestor(main->GetSafeHwnd(), GA_ROOT);
}

// Centres the dialog over its owner when the owner is showing, otherwise on the work area of
// its monitor, and keeps it inside that work area.
void CDialog::CenterWindow() const
{
    const HWND owner = GetWindow(m_hWnd, GW_OWNER);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoA(MonitorFromWindow(owner ? owner : m_hWnd, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT work = monitor.rcWork;
    RECT around = work;
    if (owner && IsWindowVisible(owner) && !::IsIconic(owner))
        GetWindowRect(owner, &around);

    RECT self{};
    GetWindowRect(m_hWnd, &self);
    const int width = self.right - self.left;
    const int height = self.bottom - self.top;
    int x = around.left + (around.right - around.left - width) / 2;
    int y = around.top + (around.bottom - around.top - height) / 2;
    x = std::max(static_cast<int>(work.left), std::min(x, static_cast<int>(work.right) - width));
    y = std::max(static_cast<int>(work.top), std::min(y, static_cast<int>(work.bottom) - height));
    SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
