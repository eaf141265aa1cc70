// Expected layout of the main window (dialog template 102) and the About box (template 100), in
// template order, for the Windows-side layout tests. Typed from the layout, not from Typrova.rc;
// the 58 timing-grid labels are built from their row and column coordinates and the grid's
// identifier table.
#ifndef TYPROVA_TESTS_WIN_EXPECTED_LAYOUT_H
#define TYPROVA_TESTS_WIN_EXPECTED_LAYOUT_H

#include "resource.h"
#include "timing_grid.h"

#include <windows.h>
#include <commctrl.h>

#include <array>
#include <iterator>

namespace typrova_test {

// Bits compared for every control: the low word (the bits each control class defines) and the
// window bits a template decides. Left out: WS_CLIPSIBLINGS, WS_CLIPCHILDREN and the
// minimise/maximise bits, which the system may manage itself. (The dialog manager also gives
// every template control WS_EX_NOPARENTNOTIFY; controls' extended styles are not tabled.)
constexpr DWORD kControlStyleMask = 0x0000FFFFu | WS_POPUP | WS_CHILD | WS_VISIBLE | WS_DISABLED |
                                    WS_BORDER | WS_DLGFRAME | WS_VSCROLL | WS_HSCROLL | WS_GROUP |
                                    WS_TABSTOP;

// Edit controls: the dialog manager may turn the template's WS_BORDER into the sunken
// WS_EX_CLIENTEDGE frame and drop WS_BORDER from the style; the layout test accepts either.
constexpr DWORD kEditStyleMask = kControlStyleMask & ~static_cast<DWORD>(WS_BORDER);

// One control as the template creates it. Positions and sizes are in dialog units, relative to
// the dialog's client area. styleMask selects the bits of the template's style that keep their
// value once the control exists; rows leave it out unless their class needs another one.
struct ExpectedControl {
    int id;                   // GetDlgCtrlID; -1 for controls that code never addresses
    const char* windowClass;  // GetClassNameA, compared without regard to case
    const char* text;         // window text right after creation; nullptr: any text
    int x, y, w, h;
    DWORD style;
    DWORD styleMask = kControlStyleMask;
};

constexpr DWORD kChildVisible = WS_CHILD | WS_VISIBLE;
constexpr DWORD kLeftLabel = kChildVisible | SS_LEFT | WS_GROUP;
constexpr DWORD kRightLabel = kChildVisible | SS_RIGHT | WS_GROUP;
constexpr DWORD kCentredLabel = kChildVisible | SS_CENTER | WS_GROUP;
constexpr DWORD kPasswordEdit =
    kChildVisible | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD;
constexpr DWORD kGroupBox = kChildVisible | BS_GROUPBOX;
// Push buttons: the dialog manager moves BS_DEFPUSHBUTTON between push buttons as the focus
// moves. Right after the window opens the focus is in the Entered field and "Close" is the
// default button; compare before any button has had the focus.
constexpr DWORD kPushButton = kChildVisible | WS_TABSTOP | BS_PUSHBUTTON;

constexpr int kNoId = -1;
constexpr int kGridLabelCount = timing_grid_numbering::kLabelCount;

// Main window frame.
constexpr int kMainWindowTemplate = IDD_TYPROVA_DIALOG;
constexpr const char* kMainWindowCaption = "Typrova";
constexpr int kMainWindowWidth = 333, kMainWindowHeight = 271;  // client area, dialog units
// The template's style: DS_SETFONT and DS_MODALFRAME stay in the window style. WS_VISIBLE is
// set only when the dialog is shown, after WM_INITDIALOG: compare after that. Left out by the
// mask: WS_CLIPSIBLINGS, which the system adds to every top-level window, and DS_3DLOOK, which
// the dialog manager adds to every dialog of a Windows 4.0 or later program.
constexpr DWORD kMainWindowStyle =
    WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
constexpr DWORD kDialogStyleMask = (0x0000FFFFu & ~static_cast<DWORD>(DS_3DLOOK)) | WS_POPUP |
                                   WS_CHILD | WS_VISIBLE | WS_DISABLED | WS_CAPTION | WS_SYSMENU |
                                   WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
// Extended style: only WS_EX_APPWINDOW comes from the template. The system adds
// WS_EX_DLGMODALFRAME (from DS_MODALFRAME), WS_EX_WINDOWEDGE and WS_EX_CONTROLPARENT, which the
// mask leaves out.
constexpr DWORD kMainWindowExStyle = WS_EX_APPWINDOW;
constexpr DWORD kMainWindowExStyleMask = WS_EX_APPWINDOW | WS_EX_TOOLWINDOW | WS_EX_TOPMOST;

// Row of each key position 1 to 15 in the timing grid; index 0 is unused.
constexpr int kGridRowY[16] = {0,   70,  82,  94,  105, 117, 129, 141,
                               152, 163, 174, 185, 196, 207, 218, 229};

// The main window's controls other than the timing grid, in template order (which is also
// the tab order).
constexpr ExpectedControl kMainWindowControls[] = {
    {kNoId, "Static", "Enter password:", 7, 14, 71, 8, kLeftLabel},
    {IDC_ENTERED, "Edit", "", 92, 8, 181, 14, kPasswordEdit, kEditStyleMask},
    {kNoId, "Static", "Re-enter password:", 7, 30, 71, 8, kLeftLabel},
    {IDC_REENTERED, "Edit", "", 92, 24, 181, 14, kPasswordEdit, kEditStyleMask},
    {IDC_THRESHOLD_VALUE, "Static", "Treshold", 273, 59, 28, 8, kLeftLabel},
    {IDC_THRESHOLD, "msctls_trackbar32", "Slider1", 256, 71, 61, 13,
     kChildVisible | WS_TABSTOP | TBS_HORZ | TBS_BOTH | TBS_NOTICKS},
    {IDCANCEL, "Button", "Close", 276, 250, 50, 14, kChildVisible | WS_TABSTOP | BS_DEFPUSHBUTTON},
    {IDC_CLEAR_ENTERED, "Button", "Clear", 279, 8, 47, 14, kPushButton},
    {IDC_CLEAR_REENTERED, "Button", "Clear", 279, 24, 47, 14, kPushButton},
    {kNoId, "Static", nullptr, 7, 256, 82, 8, kLeftLabel},  // credit line
    {kNoId, "Static", "Key 1", 7, 70, 29, 8, kLeftLabel},
    {kNoId, "Static", "Interval", 49, 59, 29, 8, kRightLabel},
    {kNoId, "Static", "Pressed", 92, 59, 30, 8, kRightLabel},
    {kNoId, "Button", "Re-entered", 146, 48, 92, 195, kGroupBox},
    {kNoId, "Button", "Entered", 46, 48, 92, 195, kGroupBox},
    {kNoId, "Static", "Interval", 156, 59, 29, 8, kRightLabel},
    {kNoId, "Static", "Pressed", 199, 59, 30, 8, kRightLabel},
    {kNoId, "Static", "Key 2", 7, 82, 29, 8, kLeftLabel},
    {kNoId, "Static", "Key 3", 7, 94, 29, 8, kLeftLabel},
    {kNoId, "Static", "Key 4", 7, 105, 29, 8, kLeftLabel},
    {kNoId, "Static", "Key 5", 7, 117, 29, 8, kLeftLabel},
    {kNoId, "Static", "Key 6", 7, 129, 29, 8, kLeftLabel},
    {kNoId, "Static", "Key 7", 7, 141, 29, 8, kLeftLabel},
    {kNoId, "Static", "Key 8", 7, 152, 29, 8, kLeftLabel},
    {kNoId, "Static", "Key 9", 7, 163, 29, 8, kLeftLabel},
    {kNoId, "Static", "Key 10", 7, 174, 29, 8, kLeftLabel},
    {kNoId, "Static", "Key 11", 7, 185, 29, 8, kLeftLabel},
    {kNoId, "Static", "Key 12", 7, 196, 29, 8, kLeftLabel},
    {kNoId, "Static", "Key 13", 7, 207, 29, 8, kLeftLabel},
    {kNoId, "Static", "Key 14", 7, 218, 29, 8, kLeftLabel},
    {kNoId, "Static", "Key 15", 7, 229, 29, 8, kLeftLabel},
    {kNoId, "Button", "Treshold", 249, 48, 77, 42, kGroupBox},
    {kNoId, "Button", "Result", 249, 125, 77, 39, kGroupBox},
    {IDC_SCORE, "Static", "Static", 256, 137, 61, 11, kCentredLabel},
    {IDC_VERDICT, "Static", "Static", 256, 149, 61, 12, kCentredLabel},

};

constexpr int kOtherControlCount = static_cast<int>(std::size(kMainWindowControls));

// Timing grid: one right-aligned 29 x 8 label per shown slot, first text "Interval", in the row
// of its key and the column of its entry and measure.
constexpr int kEnteredIntervalX = 49, kEnteredPressedX = 92;
constexpr int kReenteredIntervalX = 156, kReenteredPressedX = 199;

// The grid's labels in template order, which is ascending identifier order: label `id` is
// element id - kFirst (the numbering header checks that the identifiers fill that range).
constexpr std::array<ExpectedControl, kGridLabelCount> gridLabels()
{
    std::array<ExpectedControl, kGridLabelCount> labels{};
    const auto add = [&](int id, int x, int key) {
        labels[id - timing_grid_numbering::kFirst] = {id, "Static", "Interval", x, kGridRowY[key],
                                                      29, 8, kRightLabel};
    };
    for (int key = 1; key <= typrova::kMaxKeys; ++key) {
        if (key >= 2) {
            add(kEnteredGrid.intervals[key], kEnteredIntervalX, key);
            add(kReenteredGrid.intervals[key], kReenteredIntervalX, key);
        }
        add(kEnteredGrid.pressed[key], kEnteredPressedX, key);
        add(kReenteredGrid.pressed[key], kReenteredPressedX, key);
    }
    return labels;
}

constexpr std::array<ExpectedControl, kGridLabelCount> kGridLabels = gridLabels();

constexpr bool isGridLabel(int id)
{
    return id >= timing_grid_numbering::kFirst && id <= timing_grid_numbering::kLast;
}

// About box frame: a plain template without WS_VISIBLE; the modal run shows it, so whether the
// bit is set depends on when a test looks, and kAboutBoxStyleMask leaves it out.
constexpr int kAboutBoxTemplate = IDD_ABOUTBOX;
constexpr const char* kAboutBoxCaption = "About Typrova";
constexpr int kAboutBoxWidth = 235, kAboutBoxHeight = 55;  // client area, dialog units
constexpr DWORD kAboutBoxStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
constexpr DWORD kAboutBoxStyleMask = kDialogStyleMask & ~static_cast<DWORD>(WS_VISIBLE);

// The About box's controls. The icon static's text is the icon's resource number, not a string,
// and the control sizes itself to the icon when it loads it: only its position is meaningful
// at run time (20 x 20 is the template's size).
constexpr ExpectedControl kAboutBoxControls[] = {
    {kNoId, "Static", nullptr, 11, 17, 20, 20, kChildVisible | SS_ICON},
    {kNoId, "Static", "Typrova Version 1.0", 40, 10, 119, 8, kLeftLabel | SS_NOPREFIX},
    {kNoId, "Static", nullptr, 40, 25, 119, 8, kLeftLabel},  // second line: any text
    {IDOK, "Button", "OK", 178, 7, 50, 14,
     kChildVisible | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP},
};

}  // namespace typrova_test

#endif
