// The main window and the About box as their templates lay them out, read from the live
// windows: every control's identifier, class, text, style (the fields' masking among them) and
// rectangle in template order (which is also the tab order), the frames, the initial focus,
// and the version block.
#include "harness.h"

#include "dialog.h"
#include "expected_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace typrova_test;

extern std::string g_typrovaExe;

namespace {

// The dialog manager converts position and size separately, so the right edge is the mapped
// x plus the mapped width (not the mapped x + w).
RECT dialogUnits(HWND dialog, int x, int y, int w, int h)
{
    RECT rect{x, y, w, h};
    MapDialogRect(dialog, &rect);
    return RECT{rect.left, rect.top, rect.left + rect.right, rect.top + rect.bottom};
}

void expectControl(HWND dialog, HWND child, const ExpectedControl& want, bool checkSize)
{
    SCOPED_TRACE("id " + std::to_string(want.id));
    if (want.id != kNoId) {
        EXPECT_EQ(GetDlgCtrlID(child), want.id);
    }
    EXPECT_STRCASEEQ(harness::className(child).c_str(), want.windowClass);
    if (want.text) {
        EXPECT_EQ(harness::text(child), want.text);
    }
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrA(child, GWL_STYLE));
    EXPECT_EQ(style & want.styleMask, want.style & want.styleMask)
        << std::hex << "style " << style << " expected " << want.style;
    if (want.style & ES_PASSWORD) {
        const DWORD ex = static_cast<DWORD>(GetWindowLongPtrA(child, GWL_EXSTYLE));
        EXPECT_TRUE((style & WS_BORDER) || (ex & WS_EX_CLIENTEDGE)) << "edit has a border";
    }
    const RECT want_rect = dialogUnits(dialog, want.x, want.y, want.w, want.h);
    RECT got{}; // in the dialog's client coordinates
    GetWindowRect(child, &got);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&got), 2);
    EXPECT_EQ(got.left, want_rect.left);
    EXPECT_EQ(got.top, want_rect.top);
    if (checkSize) {
        EXPECT_EQ(got.right, want_rect.right);
        EXPECT_EQ(got.bottom, want_rect.bottom);
    }
}

void expectFrame(HWND dialog, const char* caption, int width, int height, DWORD style, DWORD mask)
{
    EXPECT_EQ(harness::text(dialog), caption);
    const DWORD got = static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_STYLE));
    EXPECT_EQ(got & mask, style & mask) << std::hex << got;
    RECT client{};
    GetClientRect(dialog, &client);
    const RECT want = dialogUnits(dialog, 0, 0, width, height);
    EXPECT_EQ(client.right, want.right);
    EXPECT_EQ(client.bottom, want.bottom);
}

std::string versionString(const std::vector<char>& block, const char* key)
{
    char* value = nullptr;
    UINT length = 0;
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + key;
    if (!VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&value), &length))
        return "<missing>";
    return length ? std::string(value) : std::string();
}

} // namespace

TEST(Layout, MainWindowTemplateCreatesEveryControlAsLaidOutWithTheFocusInTheEnteredField)
{
    CDialog dialog(kMainWindowTemplate);
    harness::runModal(dialog, kMainWindowCaption, [](HWND window) {
        expectFrame(window, kMainWindowCaption, kMainWindowWidth, kMainWindowHeight,
                    kMainWindowStyle, kDialogStyleMask);
        const DWORD ex = static_cast<DWORD>(GetWindowLongPtrA(window, GWL_EXSTYLE));
        EXPECT_EQ(ex & kMainWindowExStyleMask, kMainWindowExStyle);
        // The grid's labels may stand anywhere among the other controls; each kind keeps
        // its own order.
        int other = 0, grid = 0, index = 0;
        for (HWND child : harness::children(window)) {
            SCOPED_TRACE("control #" + std::to_string(++index));
            if (isGridLabel(GetDlgCtrlID(child))) {
                ASSERT_LT(grid, kGridLabelCount);
                expectControl(window, child, kGridLabels[grid++], true);
            } else {
                ASSERT_LT(other, kOtherControlCount) << "more controls than the layout has";
                expectControl(window, child, kMainWindowControls[other++], true);
            }
        }
        EXPECT_EQ(other, kOtherControlCount);
        EXPECT_EQ(grid, kGridLabelCount);
        // The focus starts in the first tab stop. The tab order is the template order of the
        // controls with WS_TABSTOP, both compared above control by control.
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        ASSERT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info));
        EXPECT_EQ(info.hwndFocus, GetDlgItem(window, IDC_ENTERED));
    });
}

TEST(Layout, AboutBoxTemplateCreatesItsFourControls)
{
    CDialog dialog(kAboutBoxTemplate);
    harness::runModal(dialog, kAboutBoxCaption, [](HWND window) {
        expectFrame(window, kAboutBoxCaption, kAboutBoxWidth, kAboutBoxHeight, kAboutBoxStyle,
                    kAboutBoxStyleMask);
        // The icon control sizes itself to the icon: only its position is compared.
        const std::vector<HWND> controls = harness::children(window);
        ASSERT_EQ(controls.size(), std::size(kAboutBoxControls));
        for (std::size_t i = 0; i < controls.size(); ++i)
            expectControl(window, controls[i], kAboutBoxControls[i], i != 0);
    });
}

TEST(Resources, ProgramCarriesItsVersionBlock)
{
    ASSERT_FALSE(g_typrovaExe.empty()) << "run with --typrova-exe=<path of Typrova.exe>";
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(g_typrovaExe.c_str(), &ignored);
    ASSERT_GT(size, 0u) << g_typrovaExe;
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(g_typrovaExe.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));
    EXPECT_EQ(fixed->dwFileOS, DWORD(VOS__WINDOWS32));

    EXPECT_EQ(versionString(block, "CompanyName"), "");
    EXPECT_EQ(versionString(block, "FileDescription"), "Typrova MFC Application");
    EXPECT_EQ(versionString(block, "FileVersion"), "1, 0, 0, 1");
    EXPECT_EQ(versionString(block, "InternalName"), "Typrova");
    EXPECT_NE(versionString(block, "LegalCopyright"), "<missing>");
    EXPECT_EQ(versionString(block, "LegalTrademarks"), "");
    EXPECT_EQ(versionString(block, "OriginalFilename"), "Typrova.EXE");
    EXPECT_EQ(versionString(block, "ProductName"), "Typrova Application");
    EXPECT_EQ(versionString(block, "ProductVersion"), "1, 0, 0, 1");

    struct Translation { WORD language, codePage; };
    Translation* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, sizeof(Translation));
    EXPECT_EQ(translation->language, 0x0409);
    EXPECT_EQ(translation->codePage, 1200);
}
