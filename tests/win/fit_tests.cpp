// Whether the main window and the About box fit at the screen's scale: with both tables
// filled, every control's text must fit its client rectangle in the font the control draws
// with, no two controls may overlap (a group box may hold controls), and every control must
// lie inside the dialog. The threshold label's template text is replaced by the slider's
// first drawing as the window opens, so what is measured there is what it shows then on.
// Run at 96, 144 and 192 DPI by the end-to-end scale test; prints what it measured.
#include "harness.h"

#include "about_dlg.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Measured {
    int id;
    std::string text;
    int room; // client width left over once the text and the control's margins are taken
};

bool isGroupBox(HWND window)
{
    return harness::className(window) == "Button" &&
           (GetWindowLongPtrA(window, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
}

// Text a control draws, or false when it draws none (edits are empty, the trackbar and the
// icon draw no text).
bool drawsText(HWND window)
{
    const std::string cls = harness::className(window);
    if (cls == "Static")
        return (GetWindowLongPtrA(window, GWL_STYLE) & SS_TYPEMASK) != SS_ICON;
    return cls == "Button";
}

// The metrics of the font the window draws with (the system font when it has none) and, when
// asked, the extent of `text` in it and the font's face name.
TEXTMETRICA fontMetrics(HWND window, const std::string* text = nullptr, SIZE* extent = nullptr,
                        char* face = nullptr)
{
    const auto font = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
    const HDC dc = GetDC(window);
    const HGDIOBJ old = SelectObject(dc, font ? font : GetStockObject(SYSTEM_FONT));
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    if (text)
        GetTextExtentPoint32A(dc, text->c_str(), static_cast<int>(text->size()), extent);
    if (face)
        GetTextFaceA(dc, LF_FACESIZE, face);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    return metrics;
}

int dpiOf(HWND window)
{
    const HDC dc = GetDC(window);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(window, dc);
    return dpi;
}

// Measures `text` in the control's own font against its client rectangle and the margins
// the control draws around it: a push button its 3-D edge, a group box a character's width
// on each side of its caption.
Measured measure(HWND control, const std::string& text)
{
    SIZE extent{};
    const TEXTMETRICA metrics = fontMetrics(control, &text, &extent);

    RECT client{};
    GetClientRect(control, &client);
    const int scale = dpiOf(control);
    int marginX = 0;
    int marginY = 0;
    if (isGroupBox(control)) {
        marginX = 2 * metrics.tmAveCharWidth;
    } else if (harness::className(control) == "Button") {
        marginX = marginY = 2 * MulDiv(2, scale, 96);
    }
    Measured m{GetDlgCtrlID(control), text, client.right - marginX - extent.cx};
    EXPECT_LE(extent.cx + marginX, client.right)
        << "control " << m.id << " \"" << text << "\": text " << extent.cx << " px wide, room "
        << client.right - marginX << " px";
    EXPECT_LE(extent.cy + marginY, client.bottom)
        << "control " << m.id << " \"" << text << "\": text " << extent.cy << " px high, room "
        << client.bottom - marginY << " px";
    return m;
}

bool contains(const RECT& outer, const RECT& inner)
{
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

// Every control's text fits, no two controls overlap unless a group box holds the other
// entirely, and every control lies inside the dialog's client area. `extra` lists texts a
// control shows at other times (id, text), measured in that control's font too.
void checkDialog(HWND dialog, const char* name,
                 const std::vector<std::pair<int, std::string>>& extra = {})
{
    std::vector<Measured> measured;
    const std::vector<HWND> controls = harness::children(dialog);
    for (HWND control : controls)
        if (drawsText(control))
            measured.push_back(measure(control, harness::text(control)));
    for (const auto& [id, text] : extra)
        measured.push_back(measure(GetDlgItem(dialog, id), text));

    RECT client{};
    GetClientRect(dialog, &client);
    MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&client), 2);
    int overlaps = 0;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        RECT a{};
        GetWindowRect(controls[i], &a);
        EXPECT_TRUE(contains(client, a)) << name << ": control " << GetDlgCtrlID(controls[i])
                                         << " reaches outside the dialog";
        for (std::size_t j = i + 1; j < controls.size(); ++j) {
            RECT b{};
            RECT both{};
            GetWindowRect(controls[j], &b);
            if (!IntersectRect(&both, &a, &b))
                continue;
            const bool held = (isGroupBox(controls[i]) && !isGroupBox(controls[j]) && contains(a, b)) ||
                              (isGroupBox(controls[j]) && !isGroupBox(controls[i]) && contains(b, a));
            if (!held) {
                ++overlaps;
                ADD_FAILURE() << name << ": controls " << i << " (id " << GetDlgCtrlID(controls[i])
                              << ", \"" << harness::text(controls[i]) << "\") and " << j << " (id "
                              << GetDlgCtrlID(controls[j]) << ", \"" << harness::text(controls[j])
                              << "\") overlap";
            }
        }
    }

    const auto tightest = std::min_element(measured.begin(), measured.end(),
                                           [](const Measured& a, const Measured& b) { return a.room < b.room; });
    char face[LF_FACESIZE] = {};
    const TEXTMETRICA metrics = fontMetrics(dialog, nullptr, nullptr, face);
    RECT window{};
    GetWindowRect(dialog, &window);
    std::printf("%s at %d DPI: window %ldx%ld, font \"%s\" height %ld, average width %ld; %zu texts "
                "measured, tightest \"%s\" (control %d) with %d px to spare; %zu controls, %d overlaps\n",
                name, dpiOf(dialog), window.right - window.left, window.bottom - window.top, face,
                metrics.tmHeight, metrics.tmAveCharWidth, measured.size(),
                tightest == measured.end() ? "" : tightest->text.c_str(),
                tightest == measured.end() ? 0 : tightest->id, tightest == measured.end() ? 0 : tightest->room,
                controls.size(), overlaps);
}

} // namespace

TEST(Fit, MainWindowWithFullTables)
{
    harness::FakeTicks ticks;
    harness::runMainWindow(ticks, [&](HWND window) {
        // Holds of 1234.56 ms and pauses of 4321.09 ms: four-digit values in every label.
        harness::Keyboard keys(ticks);
        const double end = keys.type(GetDlgItem(window, IDC_ENTERED), "Abcdefghijklmno", 1000, 1234.56, 4321.09);
        keys.type(GetDlgItem(window, IDC_REENTERED), "Abcdefghijklmno", end + 4321.09, 1234.56, 4321.09);
        ASSERT_EQ(harness::itemText(window, IDC_ENTERED_PRESSED15), "1234.56");
        ASSERT_EQ(harness::itemText(window, IDC_REENTERED_INTERVAL15), "4321.09");
        checkDialog(window, "main window",
                    {{IDC_VERDICT, "Enter text"}, {IDC_VERDICT, "FAILED"}, {IDC_VERDICT, "OK"},
                     {IDC_SCORE, "100.00"}, {IDC_THRESHOLD_VALUE, "100.00"}});
    });
}

TEST(Fit, AboutBox)
{
    CAboutDlg about;
    harness::runModal(about, "About Typrova", [](HWND window) { checkDialog(window, "About box"); });
}
