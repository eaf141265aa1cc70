// CDialog: a dialog built from a template resource and run modally, with its C++ object
// attached at WM_INITDIALOG and detached at WM_NCDESTROY.
#pragma once

#include "wnd.h"

#include <windows.h>

class CDialog;

// What DoDataExchange works with: the dialog whose controls are being bound. Each control is
// looked up once, here, and then reached through its object's handle.
struct CDataExchange {
    CDialog& dialog;
    // The handle of the dialog's child with identifier `id`, or nullptr. (One lookup is one
    // request to the window manager; listing all children instead costs one per child.)
    HWND control(int id) const;
};

// Binds control `id` of the dialog to `control`, subclassing it into that object.
void DDX_Control(CDataExchange& exchange, int id, CWnd& control);

// The value a dialog procedure returns for a handled message. Most messages return TRUE and
// pass their result through DWLP_MSGRESULT (a custom-draw answer such as CDRF_NOTIFYITEMDRAW
// included); a few return the result itself (WM_INITDIALOG, WM_QUERYDRAGICON, WM_CTLCOLOR*...).
// https://learn.microsoft.com/windows/win32/api/winuser/nc-winuser-dlgproc
INT_PTR dialogProcResult(HWND dialog, UINT message, LRESULT result);

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr)
        : m_templateId(templateId), m_parent(parent) {}

    // Creates the dialog and runs its modal loop; returns the EndDialog value, or -1 if the
    // dialog could not be created. Without a parent, the application's main window owns it.
    INT_PTR DoModal();
    void EndDialog(INT_PTR result) const;

    // Called when the dialog's controls exist, before it is shown; TRUE gives the focus to
    // the first tab-stop control.
    virtual BOOL OnInitDialog() { return TRUE; }
    // Called for the OK button and the Enter key without another default button.
    virtual void OnOK() { EndDialog(IDOK); }
    // Called for the Cancel button, the Escape key and the Close command.
    virtual void OnCancel() { EndDialog(IDCANCEL); }

    const MessageMap* GetMessageMap() const override;

protected:
    // Called before OnInitDialog to bind controls to their C++ objects (DDX_Control).
    virtual void DoDataExchange(CDataExchange&) {}

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    BOOL InitDialog(HWND window);
    void CenterWindow() const;
    HWND OwnerWindow() const;

    UINT m_templateId;
    CWnd* m_parent;
};
