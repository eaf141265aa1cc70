// A minimal modal Win32 dialog: stand-in for Typrova.exe when testing the end-to-end tools,
// and the baseline for start-up time comparisons. The label 1066 shows the text of the
// masked field 1001 after every change, so a test can see what the keyboard delivered.
#include <windows.h>

namespace {

// Identifiers of minimal_dialog.rc.
constexpr int kDialogId = 200;
constexpr int kFieldId = 1001;
constexpr int kEchoId = 1066;

INT_PTR CALLBACK dialogProc(HWND dlg, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;  // the first tab stop, the field, takes the focus
    case WM_COMMAND:
        if (LOWORD(wParam) == kFieldId && HIWORD(wParam) == EN_CHANGE) {
            char text[256];
            GetDlgItemTextA(dlg, kFieldId, text, static_cast<int>(sizeof text));
            SetDlgItemTextA(dlg, kEchoId, text);
            return TRUE;
        }
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dlg, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(kDialogId), nullptr, dialogProc, 0);
    return result == -1 ? 1 : 0;
}
