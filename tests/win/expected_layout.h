// Expected layout of the main window (dialog template 102) and the About box (template 100), in
// template order, for the Windows-side layout tests. Typed from the layout, not from Typrova.rc.
#ifndef TYPROVA_TESTS_WIN_EXPECTED_LAYOUT_H
#define TYPROVA_TESTS_WIN_EXPECTED_LAYOUT_H

#include <windows.h>
#include <commctrl.h>

#include "../../res/resource.h"

namespace typrova_test {

// Bits compared for every control: the low word (the bits each control class defines) and the
// window bits a template decides. Left out: WS_CLIPSIBLINGS, WS_CLIPCHILDREN and the
// minimise/maximise bits, which the system may manage itself. (The dialog manager also gives
// every template control WS_EX_NOPARENTNOTIFY; controls' extended styles are not tabled.)
constexpr DWORD kControlStyleMask = 0x0000FFFFu | WS_POPUP | WS_CHILD | WS_VISIBLE | WS_DISABLED |
                                    WS_BORDER | WS_DLGFRAME | WS_VSCROLL | WS_HSCROLL | WS_GROUP |
                                    WS_TABSTOP;

// Edit controls: the dialog manager may turn the template's WS_BORDER into the sunken
// WS_EX_CLIENTEDGE frame and drop WS_BORDER from the style, so WS_BORDER is not compared here.
// A test should instead require WS_BORDER in the style or WS_EX_CLIENTEDGE in the extended style.
constexpr DWORD kEditStyleMask = kControlStyleMask & ~static_cast<DWORD>(WS_BORDER);

// One control as the template creates it. Positions and sizes are in dialog units, relative to
// the dialog's client area (convert with MapDialogRect). style is the template's full style;
// styleMask selects the bits that keep their template value once the control exists, so a test
// compares (GetWindowLongA(hwnd, GWL_STYLE) & styleMask) == (style & styleMask). Rows leave the
// mask out unless their class needs another one.
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
constexpr int kMainWindowControlCount = 93;

// Main window frame.
constexpr int kMainWindowTemplate = IDD_TYPROVA_DIALOG;
constexpr const char* kMainWindowCaption = "Typrova";
constexpr int kMainWindowX = 0, kMainWindowY = 0;
constexpr int kMainWindowWidth = 333, kMainWindowHeight = 271;  // client area, dialog units
// The template's style, compared as (GetWindowLongA(GWL_STYLE) & kDialogStyleMask) ==
// kMainWindowStyle. DS_SETFONT and DS_MODALFRAME stay in the window style. WS_VISIBLE is set
// only when the dialog is shown, after WM_INITDIALOG: compare after that. Left out by the mask:
// WS_CLIPSIBLINGS, which the system adds to every top-level window, and DS_3DLOOK, which the
// dialog manager adds to every dialog of a Windows 4.0 or later program.
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

// The 93 controls of the main window in template order (which is also the tab order).
constexpr ExpectedControl kMainWindowControls[kMainWindowControlCount] = {
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

    // Timing grid, 29 x 8 each. Entered Interval column (x 49), keys 2 to 14.
    {IDC_ENTERED_INTERVAL2, "Static", "Interval", 49, 82, 29, 8, kRightLabel},
    {IDC_ENTERED_INTERVAL3, "Static", "Interval", 49, 94, 29, 8, kRightLabel},
    {IDC_ENTERED_INTERVAL4, "Static", "Interval", 49, 105, 29, 8, kRightLabel},
    {IDC_ENTERED_INTERVAL5, "Static", "Interval", 49, 117, 29, 8, kRightLabel},
    {IDC_ENTERED_INTERVAL6, "Static", "Interval", 49, 129, 29, 8, kRightLabel},
    {IDC_ENTERED_INTERVAL7, "Static", "Interval", 49, 141, 29, 8, kRightLabel},
    {IDC_ENTERED_INTERVAL8, "Static", "Interval", 49, 152, 29, 8, kRightLabel},
    {IDC_ENTERED_INTERVAL9, "Static", "Interval", 49, 163, 29, 8, kRightLabel},
    {IDC_ENTERED_INTERVAL10, "Static", "Interval", 49, 174, 29, 8, kRightLabel},
    {IDC_ENTERED_INTERVAL11, "Static", "Interval", 49, 185, 29, 8, kRightLabel},
    {IDC_ENTERED_INTERVAL12, "Static", "Interval", 49, 196, 29, 8, kRightLabel},
    {IDC_ENTERED_INTERVAL13, "Static", "Interval", 49, 207, 29, 8, kRightLabel},
    {IDC_ENTERED_INTERVAL14, "Static", "Interval", 49, 218, 29, 8, kRightLabel},
    // Entered Pressed column (x 92), keys 1 to 14.
    {IDC_ENTERED_PRESSED1, "Static", "Interval", 92, 70, 29, 8, kRightLabel},
    {IDC_ENTERED_PRESSED2, "Static", "Interval", 92, 82, 29, 8, kRightLabel},
    {IDC_ENTERED_PRESSED3, "Static", "Interval", 92, 94, 29, 8, kRightLabel},
    {IDC_ENTERED_PRESSED4, "Static", "Interval", 92, 105, 29, 8, kRightLabel},
    {IDC_ENTERED_PRESSED5, "Static", "Interval", 92, 117, 29, 8, kRightLabel},
    {IDC_ENTERED_PRESSED6, "Static", "Interval", 92, 129, 29, 8, kRightLabel},
    {IDC_ENTERED_PRESSED7, "Static", "Interval", 92, 141, 29, 8, kRightLabel},
    {IDC_ENTERED_PRESSED8, "Static", "Interval", 92, 152, 29, 8, kRightLabel},
    {IDC_ENTERED_PRESSED9, "Static", "Interval", 92, 163, 29, 8, kRightLabel},
    {IDC_ENTERED_PRESSED10, "Static", "Interval", 92, 174, 29, 8, kRightLabel},
    {IDC_ENTERED_PRESSED11, "Static", "Interval", 92, 185, 29, 8, kRightLabel},
    {IDC_ENTERED_PRESSED12, "Static", "Interval", 92, 196, 29, 8, kRightLabel},
    {IDC_ENTERED_PRESSED13, "Static", "Interval", 92, 207, 29, 8, kRightLabel},
    {IDC_ENTERED_PRESSED14, "Static", "Interval", 92, 218, 29, 8, kRightLabel},
    // Entered key 15: interval, then pressed.
    {IDC_ENTERED_INTERVAL15, "Static", "Interval", 49, 229, 29, 8, kRightLabel},
    {IDC_ENTERED_PRESSED15, "Static", "Interval", 92, 229, 29, 8, kRightLabel},
    // Re-entered Interval column (x 156), keys 2 to 15.
    {IDC_REENTERED_INTERVAL2, "Static", "Interval", 156, 82, 29, 8, kRightLabel},
    {IDC_REENTERED_INTERVAL3, "Static", "Interval", 156, 94, 29, 8, kRightLabel},
    {IDC_REENTERED_INTERVAL4, "Static", "Interval", 156, 105, 29, 8, kRightLabel},
    {IDC_REENTERED_INTERVAL5, "Static", "Interval", 156, 117, 29, 8, kRightLabel},
    {IDC_REENTERED_INTERVAL6, "Static", "Interval", 156, 129, 29, 8, kRightLabel},
    {IDC_REENTERED_INTERVAL7, "Static", "Interval", 156, 141, 29, 8, kRightLabel},
    {IDC_REENTERED_INTERVAL8, "Static", "Interval", 156, 152, 29, 8, kRightLabel},
    {IDC_REENTERED_INTERVAL9, "Static", "Interval", 156, 163, 29, 8, kRightLabel},
    {IDC_REENTERED_INTERVAL10, "Static", "Interval", 156, 174, 29, 8, kRightLabel},
    {IDC_REENTERED_INTERVAL11, "Static", "Interval", 156, 185, 29, 8, kRightLabel},
    {IDC_REENTERED_INTERVAL12, "Static", "Interval", 156, 196, 29, 8, kRightLabel},
    {IDC_REENTERED_INTERVAL13, "Static", "Interval", 156, 207, 29, 8, kRightLabel},
    {IDC_REENTERED_INTERVAL14, "Static", "Interval", 156, 218, 29, 8, kRightLabel},
    {IDC_REENTERED_INTERVAL15, "Static", "Interval", 156, 229, 29, 8, kRightLabel},
    // Re-entered Pressed column (x 199), keys 2 to 15, then key 1.
    {IDC_REENTERED_PRESSED2, "Static", "Interval", 199, 82, 29, 8, kRightLabel},
    {IDC_REENTERED_PRESSED3, "Static", "Interval", 199, 94, 29, 8, kRightLabel},
    {IDC_REENTERED_PRESSED4, "Static", "Interval", 199, 105, 29, 8, kRightLabel},
    {IDC_REENTERED_PRESSED5, "Static", "Interval", 199, 117, 29, 8, kRightLabel},
    {IDC_REENTERED_PRESSED6, "Static", "Interval", 199, 129, 29, 8, kRightLabel},
    {IDC_REENTERED_PRESSED7, "Static", "Interval", 199, 141, 29, 8, kRightLabel},
    {IDC_REENTERED_PRESSED8, "Static", "Interval", 199, 152, 29, 8, kRightLabel},
    {IDC_REENTERED_PRESSED9, "Static", "Interval", 199, 163, 29, 8, kRightLabel},
    {IDC_REENTERED_PRESSED10, "Static", "Interval", 199, 174, 29, 8, kRightLabel},
    {IDC_REENTERED_PRESSED11, "Static", "Interval", 199, 185, 29, 8, kRightLabel},
    {IDC_REENTERED_PRESSED12, "Static", "Interval", 199, 196, 29, 8, kRightLabel},
    {IDC_REENTERED_PRESSED13, "Static", "Interval", 199, 207, 29, 8, kRightLabel},
    {IDC_REENTERED_PRESSED14, "Static", "Interval", 199, 218, 29, 8, kRightLabel},
    {IDC_REENTERED_PRESSED15, "Static", "Interval", 199, 229, 29, 8, kRightLabel},
    {IDC_REENTERED_PRESSED1, "Static", "Interval", 199, 70, 29, 8, kRightLabel},
};

// Compile-time checks of the grid rows against the numbering rule of the timing grid: each of
// the 58 value labels sits in one of the four columns at the row of its key, and its identifier
// is the one that column gives that key.
constexpr int kFirstGridIndex = 35;

constexpr int gridKeyOfRow(int y) {
    for (int key = 1; key <= 15; ++key) {
        if (kGridRowY[key] == y) return key;
    }
    return 0;
}

constexpr int gridIdAt(int x, int key) {
    if (key < 1 || key > 15) return 0;
    switch (x) {
    case 49: return key == 1 ? 0 : key == 15 ? IDC_ENTERED_INTERVAL15 : 1006 + key;
    case 92: return key == 15 ? IDC_ENTERED_PRESSED15 : 1020 + key;
    case 156: return key == 1 ? 0 : 1035 + key;
    case 199: return key == 1 ? IDC_REENTERED_PRESSED1 : 1049 + key;
    default: return 0;
    }
}

constexpr bool gridMatchesNumbering() {
    for (int i = kFirstGridIndex; i < kMainWindowControlCount; ++i) {
        const ExpectedControl& c = kMainWindowControls[i];
        if (c.w != 29 || c.h != 8 || c.style != kRightLabel) return false;
        if (gridIdAt(c.x, gridKeyOfRow(c.y)) != c.id) return false;
    }
    return true;
}

constexpr bool gridIdsAreDistinct() {
    for (int i = kFirstGridIndex; i < kMainWindowControlCount; ++i) {
        for (int j = i + 1; j < kMainWindowControlCount; ++j) {
            if (kMainWindowControls[i].id == kMainWindowControls[j].id) return false;
        }
    }
    return true;
}

static_assert(kMainWindowControlCount - kFirstGridIndex == 58, "the timing grid has 58 labels");
static_assert(gridMatchesNumbering(), "a grid label's identifier does not fit its column and row");
static_assert(gridIdsAreDistinct(), "two grid labels share an identifier");
static_assert(kMainWindowControls[kFirstGridIndex].id == IDC_ENTERED_INTERVAL2 &&
                  kMainWindowControls[kMainWindowControlCount - 1].id == IDC_REENTERED_PRESSED1,
              "the grid starts at 1008 and ends at 1065 in template order");

// Tab order: the controls with WS_TABSTOP, in template order.
constexpr int kMainWindowTabOrder[6] = {IDC_ENTERED, IDC_REENTERED,     IDC_THRESHOLD,
                                        IDCANCEL,    IDC_CLEAR_ENTERED, IDC_CLEAR_REENTERED};

// About box frame: a plain template without WS_VISIBLE; the modal run shows it, so whether the
// bit is set depends on when a test looks, and kAboutBoxStyleMask leaves it out.
constexpr int kAboutBoxTemplate = IDD_ABOUTBOX;
constexpr const char* kAboutBoxCaption = "About Typrova";
constexpr int kAboutBoxWidth = 235, kAboutBoxHeight = 55;  // client area, dialog units
constexpr DWORD kAboutBoxStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
constexpr DWORD kAboutBoxStyleMask = kDialogStyleMask & ~static_cast<DWORD>(WS_VISIBLE);
constexpr int kAboutBoxControlCount = 4;

// The About box's controls. The icon static's text is the icon's resource number, not a string,
// and the control sizes itself to the icon when it loads it: only its position is meaningful
// at run time (20 x 20 is the template's size).
constexpr ExpectedControl kAboutBoxControls[kAboutBoxControlCount] = {
    {kNoId, "Static", nullptr, 11, 17, 20, 20, kChildVisible | SS_ICON},
    {kNoId, "Static", "Typrova Version 1.0", 40, 10, 119, 8, kLeftLabel | SS_NOPREFIX},
    {kNoId, "Static", nullptr, 40, 25, 119, 8, kLeftLabel},  // second line: any text
    {IDOK, "Button", "OK", 178, 7, 50, 14,
     kChildVisible | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP},
};

}  // namespace typrova_test

#endif
