// The main window as it opens, as it is typed into and as its buttons, slider and system menu
// are used, checked from the live dialog with real key messages and a fake clock. The filing
// rules alone are the timing tests' (tests/timing/clock_test.cpp); the typing cases catch what
// the window adds: which messages stamp, the length read from the field, the shared clock,
// when it evaluates.
#include "harness.h"

#include "app.h"
#include "expected_layout.h"
#include "resource.h"
#include "timing_grid.h"
#include "typrova_app.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using harness::itemText;

namespace {

// The centre of `inner` is within a pixel of the centre of `outer`.
void expectCentred(const RECT& inner, const RECT& outer)
{
    EXPECT_NEAR((inner.left + inner.right) / 2.0, (outer.left + outer.right) / 2.0, 1.0);
    EXPECT_NEAR((inner.top + inner.bottom) / 2.0, (outer.top + outer.bottom) / 2.0, 1.0);
}

// Runs the main window as the application's main window, with a fake clock and a keyboard.
class MainWindow : public testing::Test {
protected:
    INT_PTR run(const std::function<void(HWND)>& driver)
    {
        return harness::runMainWindow(ticks, [&](HWND window) {
            entered = GetDlgItem(window, IDC_ENTERED);
            reentered = GetDlgItem(window, IDC_REENTERED);
            driver(window);
        });
    }
    static std::string pressed(HWND dialog, int key) { return itemText(dialog, kEnteredGrid.pressed[key]); }
    static std::string interval(HWND dialog, int key) { return itemText(dialog, kEnteredGrid.intervals[key]); }

    harness::FakeTicks ticks;
    harness::Keyboard keys{ticks};
    HWND entered = nullptr;
    HWND reentered = nullptr;
};

// Typing into the window: which slot each release fills, what the table shows, and when the
// verdict changes.
class Capture : public MainWindow {};

} // namespace

TEST_F(Capture, ReleasesFileUnderTheFieldsLengthAfterItsOwnProcessingOnOneClock)
{
    run([this](HWND dialog) {
        keys.type(entered, "a", 1000);
        keys.type(reentered, "a", 2000);
        ASSERT_EQ(itemText(dialog, IDC_VERDICT), "OK");
        keys.type(entered, "b", 3000, 60); // one clock: the other field's last event was at 2080
        EXPECT_EQ(pressed(dialog, 2), "60.00");
        EXPECT_EQ(interval(dialog, 2), "920.00");

        // Backspace's release files under the shorter length the field then holds.
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

        // A held key: every auto-repeated press stamps; the release files at the final length.
        keys.down(entered, 'A', 6000, 'a');
        keys.down(entered, 'A', 6500, 'a', true);
        keys.down(entered, 'A', 6533, 'a', true);
        keys.up(entered, 'A', 6600);
        EXPECT_EQ(itemText(dialog, IDC_ENTERED), "aaa");
        EXPECT_EQ(interval(dialog, 3), "33.00");
        EXPECT_EQ(pressed(dialog, 3), "67.00");
        EXPECT_EQ(pressed(dialog, 1), "70.00");
        EXPECT_EQ(pressed(dialog, 2), "60.00");
    });
}

TEST_F(Capture, VerdictAppearsAtTheReleaseThatMakesTheTextsEqualAndFollowsLaterReleases)
{
    run([this](HWND dialog) {
        keys.type(entered, "ab", 1000);
        keys.type(reentered, "a", 2000);
        EXPECT_EQ(itemText(dialog, IDC_VERDICT), "Enter text");
        keys.down(reentered, 'B', 2200, 'b');
        EXPECT_EQ(itemText(dialog, IDC_VERDICT), "Enter text") << "a press does not evaluate";
        keys.up(reentered, 'B', 2280);
        EXPECT_EQ(itemText(dialog, IDC_SCORE), "100.00");
        EXPECT_EQ(itemText(dialog, IDC_VERDICT), "OK");

        keys.down(reentered, VK_SHIFT, 3000);
        keys.up(reentered, VK_SHIFT, 3300); // a key that types nothing refiles slot 2: 300 ms
        EXPECT_EQ(itemText(dialog, IDC_REENTERED_PRESSED2), "300.00");
        EXPECT_EQ(itemText(dialog, IDC_VERDICT), "FAILED");
    });
}

TEST_F(Capture, SystemKeysDoNotStamp)
{
    run([this](HWND dialog) {
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
    run([this](HWND dialog) {
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

TEST_F(MainWindow, OpensCentredWithClearedTablesNoVerdictAndTheThresholdInTheMiddle)
{
    run([](HWND dialog) {
        RECT window{};
        GetWindowRect(dialog, &window);
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        GetMonitorInfoA(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &monitor);
        expectCentred(window, monitor.rcWork);

        for (const typrova_test::ExpectedControl& label : typrova_test::kGridLabels)
            EXPECT_EQ(itemText(dialog, label.id), "0.00") << "label " << label.id;
        EXPECT_EQ(itemText(dialog, IDC_SCORE), "0.00");
        EXPECT_EQ(itemText(dialog, IDC_VERDICT), "Enter text");
        EXPECT_EQ(harness::waitForItemText(dialog, IDC_THRESHOLD_VALUE, "50.00"), "50.00");
        const HWND slider = GetDlgItem(dialog, IDC_THRESHOLD);
        EXPECT_EQ(SendMessageA(slider, TBM_GETRANGEMIN, 0, 0), 0);
        EXPECT_EQ(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0), 10000);
        EXPECT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), 5000);
        EXPECT_EQ(itemText(dialog, IDC_ENTERED), "");
        EXPECT_EQ(itemText(dialog, IDC_REENTERED), "");
    });
}

TEST_F(MainWindow, ClearButtonsEmptyOnlyTheirOwnFieldAndTable)
{
    struct Side { int field, clear; const TimingGridIds& grid; };
    const Side sides[] = {{IDC_ENTERED, IDC_CLEAR_ENTERED, kEnteredGrid},
                          {IDC_REENTERED, IDC_CLEAR_REENTERED, kReenteredGrid}};
    for (const Side& cleared : sides) {
        ticks.setMs(0);
        run([&](HWND dialog) {
            keys.type(entered, "ab", 1000);
            keys.type(reentered, "ab", 2000);
            ASSERT_EQ(itemText(dialog, IDC_VERDICT), "OK");
            SendMessageA(GetDlgItem(dialog, cleared.clear), BM_CLICK, 0, 0);
            for (const Side& side : sides) {
                SCOPED_TRACE("field " + std::to_string(side.field) + " after clearing " +
                             std::to_string(cleared.field));
                const bool own = &side == &cleared;
                EXPECT_EQ(itemText(dialog, side.field), own ? "" : "ab");
                EXPECT_EQ(itemText(dialog, side.grid.pressed[1]), own ? "0.00" : "80.00");
                EXPECT_EQ(itemText(dialog, side.grid.pressed[2]), own ? "0.00" : "80.00");
                EXPECT_EQ(itemText(dialog, side.grid.intervals[2]), own ? "0.00" : "120.00");
            }
            EXPECT_EQ(itemText(dialog, IDC_SCORE), "0.00");
            EXPECT_EQ(itemText(dialog, IDC_VERDICT), "Enter text");
        });
    }
}

TEST_F(MainWindow, MovingTheSliderChangesOnlyTheThresholdLabelUntilTheNextStoredRelease)
{
    run([this](HWND dialog) {
        keys.type(entered, "ab", 1000);
        keys.type(reentered, "ab", 2000, 80, 400); // below 50
        ASSERT_EQ(harness::waitForItemText(dialog, IDC_THRESHOLD_VALUE, "50.00"), "50.00");
        ASSERT_EQ(itemText(dialog, IDC_VERDICT), "FAILED");
        const std::vector<HWND> controls = harness::children(dialog);
        std::vector<std::string> before;
        for (HWND control : controls)
            before.push_back(harness::text(control));

        SendMessageA(GetDlgItem(dialog, IDC_THRESHOLD), TBM_SETPOS, TRUE, 0);
        EXPECT_EQ(harness::waitForItemText(dialog, IDC_THRESHOLD_VALUE, "0.00"), "0.00");
        int changed = 0;
        for (std::size_t i = 0; i < controls.size(); ++i)
            changed += harness::text(controls[i]) != before[i];
        EXPECT_EQ(changed, 1); // the threshold label alone: the verdict waits for the next key
        keys.down(reentered, VK_RIGHT, 4000);
        keys.up(reentered, VK_RIGHT, 4080); // an arrow key stores too
        EXPECT_EQ(itemText(dialog, IDC_VERDICT), "OK");
    });
}

// The About box's controls are the layout tests' (Layout.AboutBoxTemplateCreatesItsFourControls
// opens the same template): here, that the system menu opens it, modal and centred.
TEST_F(MainWindow, SystemMenuEndsWithTheAboutItemWhichOpensTheAboutBoxCentredOverTheWindow)
{
    run([](HWND dialog) {
        const HMENU menu = GetSystemMenu(dialog, FALSE);
        ASSERT_NE(menu, nullptr);
        const int count = GetMenuItemCount(menu);
        ASSERT_GE(count, 2);
        EXPECT_EQ(GetMenuState(menu, count - 2, MF_BYPOSITION) & MF_SEPARATOR, UINT(MF_SEPARATOR));
        char label[64] = {};
        GetMenuStringA(menu, count - 1, label, sizeof label, MF_BYPOSITION);
        EXPECT_STREQ(label, "&About Typrova...");
        EXPECT_EQ(GetMenuItemID(menu, count - 1), UINT(IDM_ABOUTBOX));

        PostMessageA(dialog, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        const HWND about = harness::waitForWindow(GetWindowThreadProcessId(dialog, nullptr), "About Typrova");
        ASSERT_NE(about, nullptr);
        EXPECT_EQ(GetWindow(about, GW_OWNER), dialog);
        EXPECT_FALSE(IsWindowEnabled(dialog)); // modal over the main window

        RECT main{}, box{};
        GetWindowRect(dialog, &main);
        GetWindowRect(about, &box);
        expectCentred(box, main);

        SendMessageA(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
        EXPECT_TRUE(harness::waitForClose(about));
        EXPECT_TRUE(IsWindow(dialog));
        EXPECT_TRUE(IsWindowEnabled(dialog));
    });
}

// Close, Enter and Escape all end the modal run; Enter goes to "Close", the default button.
TEST_F(MainWindow, CloseEnterAndEscapeEndTheRun)
{
    const auto endsWith = [this](UINT key) {
        return run([key](HWND dialog) {
            const HWND field = GetDlgItem(dialog, IDC_ENTERED);
            if (key)
                PostMessageA(field, WM_KEYDOWN, key, 1);
            else
                SendMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
            EXPECT_TRUE(harness::waitForClose(dialog, 3000)) << "key " << key;
        });
    };
    EXPECT_EQ(endsWith(0), IDCANCEL);
    EXPECT_EQ(endsWith(VK_RETURN), IDCANCEL);
    EXPECT_EQ(endsWith(VK_ESCAPE), IDCANCEL);
}

namespace {

// What the dialog's own thread saw while it handled a minimise: whether the window was iconic
// once the command returned, and how often the paint that followed erased an icon's background
// while iconic. The dialog's iconic paint sends itself WM_ICONERASEBKGND; the default paint of a
// dialog, whose class has no icon, does not.
struct MinimisedPaint {
    HWND dialog = nullptr;
    bool iconicAfterMinimise = false;
    int iconErases = 0;
};
MinimisedPaint minimisedPaint;

// Runs on the dialog's thread after each message its procedure handled. The paint is asked for
// within the minimise's own message: Wine's modal dialog loop shows its dialog with
// SW_SHOWNORMAL the first time its queue goes empty, which restores a dialog minimised before
// then, so a check made from the driver thread between two messages can find it restored.
LRESULT CALLBACK afterDialogMessage(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* message = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && message->hwnd == minimisedPaint.dialog) {
        if (message->message == WM_SYSCOMMAND && (message->wParam & 0xFFF0) == SC_MINIMIZE) {
            minimisedPaint.iconicAfterMinimise = IsIconic(message->hwnd) != FALSE;
            // A minimised window's client area is empty, so invalidating it asks for no paint;
            // an internal paint is delivered all the same, here at once.
            RedrawWindow(message->hwnd, nullptr, nullptr, RDW_INTERNALPAINT | RDW_UPDATENOW);
        } else if (message->message == WM_ICONERASEBKGND && IsIconic(message->hwnd)) {
            ++minimisedPaint.iconErases;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

TEST_F(MainWindow, MinimisedWindowAnswersTheDragIconAndStaysAlive)
{
    run([](HWND dialog) {
        const HICON icon = reinterpret_cast<HICON>(SendMessageA(dialog, WM_GETICON, ICON_BIG, 0));
        EXPECT_NE(icon, nullptr);
        EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(dialog, WM_QUERYDRAGICON, 0, 0)), icon);

        minimisedPaint = {dialog};
        const HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROCRET, afterDialogMessage, nullptr,
                                             GetWindowThreadProcessId(dialog, nullptr));
        ASSERT_NE(hook, nullptr);
        SendMessageA(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        UnhookWindowsHookEx(hook);
        EXPECT_TRUE(minimisedPaint.iconicAfterMinimise);
        EXPECT_GE(minimisedPaint.iconErases, 1) << "the paint while minimised draws the icon";

        SendMessageA(dialog, WM_SYSCOMMAND, SC_RESTORE, 0);
        EXPECT_FALSE(IsIconic(dialog));
    });
}

TEST(Application, InitInstanceRunsTheMainWindowAsTheMainWindowAndEndsWhenItCloses)
{
    CTypingApp& app = static_cast<CTypingApp&>(*AfxGetApp());
    const DWORD uiThread = GetCurrentThreadId();
    HWND seenMain = nullptr;
    std::thread closer([&] {
        const HWND dialog = harness::waitForWindow(uiThread, "Typrova");
        ASSERT_NE(dialog, nullptr);
        const CWnd* main = app.GetMainWnd();
        seenMain = main ? main->GetSafeHwnd() : nullptr;
        PostMessageA(dialog, WM_CLOSE, 0, 0);
    });
    EXPECT_FALSE(app.InitInstance());
    closer.join();
    EXPECT_NE(seenMain, nullptr);
    EXPECT_EQ(app.GetMainWnd(), nullptr);
}
