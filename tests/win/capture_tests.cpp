// Typing into the live main window with real key messages and a fake clock: which slot each
// release fills, what the table shows, and when the verdict changes. The filing rules alone are
// the timing tests' (tests/timing/clock_test.cpp); these cases catch what the window adds: which
// messages stamp, the length read from the field, the shared clock, when it evaluates.
#include "harness.h"

#include "app.h"
#include "resource.h"
#include "timing_grid.h"
#include "typing_dlg.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

using harness::itemText;

namespace {

class Capture : public testing::Test {
protected:
    // Opens the main window and runs `script` with the two fields and the dialog.
    void run(const std::function<void(HWND dialog, HWND entered, HWND reentered)>& script)
    {
        CTypingDlg dialog(ticks, nullptr);
        AfxGetApp()->m_pMainWnd = &dialog;
        harness::runModal(dialog, "Typrova", [&](HWND window) {
            script(window, GetDlgItem(window, IDC_ENTERED), GetDlgItem(window, IDC_REENTERED));
        });
        AfxGetApp()->m_pMainWnd = nullptr;
    }
    static std::string pressed(HWND dialog, int key) { return itemText(dialog, kEnteredGrid.pressed[key]); }
    static std::string interval(HWND dialog, int key) { return itemText(dialog, kEnteredGrid.intervals[key]); }

    harness::FakeTicks ticks;
    harness::Keyboard keys{ticks};
};

} // namespace

TEST_F(Capture, OverlappingKeysBothFileUnderTheLengthAtTheirRelease)
{
    run([this](HWND dialog, HWND entered, HWND) {
        keys.down(entered, 'A', 1000, 'a');
        keys.down(entered, 'B', 1050, 'b');
        keys.up(entered, 'A', 1100);
        keys.up(entered, 'B', 1180);
        EXPECT_EQ(interval(dialog, 2), "50.00"); // press of b to release of a
        EXPECT_EQ(pressed(dialog, 2), "80.00");  // release of a to release of b
        EXPECT_EQ(pressed(dialog, 1), "0.00");
    });
}

TEST_F(Capture, ShiftCountsLikeAnyKeyAndItsReleaseWins)
{
    run([this](HWND dialog, HWND entered, HWND) {
        keys.down(entered, VK_SHIFT, 1000);
        keys.down(entered, 'A', 1050, 'A');
        keys.up(entered, 'A', 1120);
        EXPECT_EQ(pressed(dialog, 1), "70.00");
        keys.up(entered, VK_SHIFT, 1200);
        EXPECT_EQ(pressed(dialog, 1), "80.00"); // release of A to release of Shift
        EXPECT_EQ(itemText(dialog, IDC_ENTERED), "A");
    });
}

TEST_F(Capture, BackspaceRefilesTheShorterLengthAndDeletingTheLastCharacterKeepsEverything)
{
    run([this](HWND dialog, HWND entered, HWND reentered) {
        keys.type(entered, "a", 1000);
        keys.type(reentered, "a", 2000);
        ASSERT_EQ(itemText(dialog, IDC_VERDICT), "OK");
        keys.type(entered, "b", 3000, 60); // one clock: the other field's last event was at 2080
        EXPECT_EQ(pressed(dialog, 2), "60.00");
        EXPECT_EQ(interval(dialog, 2), "920.00");

        keys.down(entered, VK_BACK, 4000, '\b');
        keys.up(entered, VK_BACK, 4070);
        EXPECT_EQ(itemText(dialog, IDC_ENTERED), "a");
        EXPECT_EQ(pressed(dialog, 1), "70.00");
        EXPECT_EQ(interval(dialog, 2), "920.00") << "slot 2 keeps its values";
        EXPECT_EQ(itemText(dialog, IDC_SCORE), "86.67") << "equal texts again: 70 against 80 ms";
        EXPECT_EQ(itemText(dialog, IDC_VERDICT), "OK");

        keys.down(entered, VK_BACK, 5000, '\b');
        keys.up(entered, VK_BACK, 5050);
        EXPECT_EQ(itemText(dialog, IDC_ENTERED), "");
        EXPECT_EQ(pressed(dialog, 1), "70.00");
        EXPECT_EQ(itemText(dialog, IDC_SCORE), "86.67") << "nothing stored, nothing re-evaluated";
        EXPECT_EQ(itemText(dialog, IDC_VERDICT), "OK");
    });
}

TEST_F(Capture, AutoRepeatStampsEveryPressAndFilesOnlyTheFinalLength)
{
    run([this](HWND dialog, HWND entered, HWND) {
        keys.down(entered, 'A', 1000, 'a');
        keys.down(entered, 'A', 1500, 'a', true);
        keys.down(entered, 'A', 1533, 'a', true);
        keys.up(entered, 'A', 1600);
        EXPECT_EQ(itemText(dialog, IDC_ENTERED), "aaa");
        EXPECT_EQ(interval(dialog, 3), "33.00");
        EXPECT_EQ(pressed(dialog, 3), "67.00");
        EXPECT_EQ(pressed(dialog, 1), "0.00");
        EXPECT_EQ(pressed(dialog, 2), "0.00");
    });
}

TEST_F(Capture, VerdictAppearsAtTheReleaseThatMakesTheTextsEqualAndFollowsLaterReleases)
{
    run([this](HWND dialog, HWND entered, HWND reentered) {
        keys.type(entered, "ab", 1000);
        keys.type(reentered, "a", 2000);
        EXPECT_EQ(itemText(dialog, IDC_VERDICT), "Enter text");
        keys.down(reentered, 'B', 2200, 'b');
        EXPECT_EQ(itemText(dialog, IDC_VERDICT), "Enter text") << "a press does not evaluate";
        keys.up(reentered, 'B', 2280);
        EXPECT_EQ(itemText(dialog, IDC_SCORE), "100.00");
        EXPECT_EQ(itemText(dialog, IDC_VERDICT), "OK");

        keys.down(reentered, VK_SHIFT, 3000);
        keys.up(reentered, VK_SHIFT, 3300); // refiles slot 2 with a 300 ms hold
        EXPECT_EQ(itemText(dialog, IDC_REENTERED_PRESSED2), "300.00");
        EXPECT_EQ(itemText(dialog, IDC_VERDICT), "FAILED");
    });
}

TEST_F(Capture, SliderMovedAfterAVerdictWaitsForTheNextStoredRelease)
{
    run([this](HWND dialog, HWND entered, HWND reentered) {
        keys.type(entered, "ab", 1000);
        keys.type(reentered, "ab", 2000, 80, 400);
        ASSERT_EQ(itemText(dialog, IDC_VERDICT), "FAILED");
        SendMessageA(GetDlgItem(dialog, IDC_THRESHOLD), TBM_SETPOS, TRUE, 0);
        EXPECT_EQ(harness::waitForItemText(dialog, IDC_THRESHOLD_VALUE, "0.00"), "0.00");
        EXPECT_EQ(itemText(dialog, IDC_VERDICT), "FAILED");
        keys.down(reentered, VK_RIGHT, 4000);
        keys.up(reentered, VK_RIGHT, 4080); // an arrow key stores too
        EXPECT_EQ(itemText(dialog, IDC_VERDICT), "OK");
    });
}

TEST_F(Capture, SystemKeysDoNotStamp)
{
    run([this](HWND dialog, HWND entered, HWND) {
        keys.type(entered, "a", 1000); // released at 1080
        ticks.setMs(1100); // Alt+X reaches the field as system keys
        SendMessageA(entered, WM_SYSKEYDOWN, 'X', 0x202D0001);
        ticks.setMs(1150);
        SendMessageA(entered, WM_SYSKEYUP, 'X', static_cast<LPARAM>(0xE02D0001u));
        keys.down(entered, 'B', 1200, 'b');
        keys.up(entered, 'B', 1290);
        EXPECT_EQ(interval(dialog, 2), "120.00");
        EXPECT_EQ(pressed(dialog, 2), "90.00");
    });
}

TEST_F(Capture, PastedTextIsNotEvaluatedUntilTheNextStoredRelease)
{
    run([this](HWND dialog, HWND entered, HWND reentered) {
        SetWindowTextA(entered, "abc");
        SetWindowTextA(reentered, "abc");
        EXPECT_EQ(itemText(dialog, IDC_VERDICT), "Enter text");
        EXPECT_EQ(pressed(dialog, 3), "0.00");
        keys.down(entered, VK_SHIFT, 1000);
        keys.up(entered, VK_SHIFT, 1040);
        EXPECT_EQ(pressed(dialog, 3), "40.00");
        // Only the Entered side measured key 3: a full mismatch, but a verdict all the same.
        EXPECT_EQ(itemText(dialog, IDC_SCORE), "0.00");
        EXPECT_EQ(itemText(dialog, IDC_VERDICT), "FAILED");
    });
}
