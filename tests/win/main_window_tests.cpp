// The main window as it opens and as its buttons, slider and system menu are used, checked
// from the live dialog; plus the two classic faults of a Win32 layer (a lost custom-draw
// answer, a subclass that runs before the control's own processing).
#include "harness.h"

#include "app.h"
#include "resource.h"
#include "timing_grid.h"
#include "typing_dlg.h"
#include "typrova_app.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using harness::itemText;

namespace {

std::vector<int> allGridIds()
{
    std::vector<int> ids;
    for (const TimingGridIds* grid : {&kEnteredGrid, &kReenteredGrid})
        for (int key = 1; key <= typrova::kMaxKeys; ++key) {
            ids.push_back(grid->pressed[key]);
            if (key >= 2)
                ids.push_back(grid->intervals[key]);
        }
    return ids;
}

// Runs the main window as the application's main window, with a fake clock.
class MainWindow : public testing::Test {
protected:
    INT_PTR run(const std::function<void(HWND)>& driver)
    {
        CTypingDlg dialog(ticks, nullptr);
        AfxGetApp()->m_pMainWnd = &dialog;
        const INT_PTR result = harness::runModal(dialog, "Typrova", driver);
        AfxGetApp()->m_pMainWnd = nullptr;
        return result;
    }
    harness::FakeTicks ticks;
};

} // namespace

TEST_F(MainWindow, OpensWithClearedTablesNoVerdictAndTheThresholdInTheMiddle)
{
    run([](HWND dialog) {
        const std::vector<int> grid = allGridIds();
        ASSERT_EQ(grid.size(), 58u);
        for (int id : grid)
            EXPECT_EQ(itemText(dialog, id), "0.00") << "label " << id;
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
    run([this](HWND dialog) {
        harness::Keyboard keys(ticks);
        const HWND entered = GetDlgItem(dialog, IDC_ENTERED);
        const HWND reentered = GetDlgItem(dialog, IDC_REENTERED);
        keys.type(entered, "ab", 1000);
        keys.type(reentered, "ab", 2000);
        ASSERT_EQ(itemText(dialog, IDC_VERDICT), "OK");
        ASSERT_EQ(itemText(dialog, IDC_ENTERED_PRESSED2), "80.00");

        SendMessageA(GetDlgItem(dialog, IDC_CLEAR_ENTERED), BM_CLICK, 0, 0);
        EXPECT_EQ(itemText(dialog, IDC_ENTERED), "");
        EXPECT_EQ(itemText(dialog, IDC_ENTERED_PRESSED1), "0.00");
        EXPECT_EQ(itemText(dialog, IDC_ENTERED_PRESSED2), "0.00");
        EXPECT_EQ(itemText(dialog, IDC_ENTERED_INTERVAL2), "0.00");
        EXPECT_EQ(itemText(dialog, IDC_REENTERED), "ab");
        EXPECT_EQ(itemText(dialog, IDC_REENTERED_PRESSED2), "80.00");
        EXPECT_EQ(itemText(dialog, IDC_REENTERED_INTERVAL2), "120.00");
        EXPECT_EQ(itemText(dialog, IDC_SCORE), "0.00");
        EXPECT_EQ(itemText(dialog, IDC_VERDICT), "Enter text");

        SendMessageA(GetDlgItem(dialog, IDC_CLEAR_REENTERED), BM_CLICK, 0, 0);
        EXPECT_EQ(itemText(dialog, IDC_REENTERED), "");
        EXPECT_EQ(itemText(dialog, IDC_REENTERED_PRESSED2), "0.00");
        EXPECT_EQ(itemText(dialog, IDC_REENTERED_INTERVAL2), "0.00");
    });
}

TEST_F(MainWindow, MovingTheSliderChangesOnlyTheThresholdLabel)
{
    run([this](HWND dialog) {
        harness::Keyboard keys(ticks);
        keys.type(GetDlgItem(dialog, IDC_ENTERED), "ab", 1000);
        keys.type(GetDlgItem(dialog, IDC_REENTERED), "ab", 2000, 80, 400); // below 50
        ASSERT_EQ(harness::waitForItemText(dialog, IDC_THRESHOLD_VALUE, "50.00"), "50.00");
        ASSERT_EQ(itemText(dialog, IDC_VERDICT), "FAILED");
        std::vector<std::string> before = harness::childTexts(dialog);

        SendMessageA(GetDlgItem(dialog, IDC_THRESHOLD), TBM_SETPOS, TRUE, 1234);
        EXPECT_EQ(harness::waitForItemText(dialog, IDC_THRESHOLD_VALUE, "12.34"), "12.34");
        std::vector<std::string> after = harness::childTexts(dialog);
        ASSERT_EQ(before.size(), after.size());
        int changed = 0;
        for (std::size_t i = 0; i < before.size(); ++i)
            changed += before[i] != after[i];
        EXPECT_EQ(changed, 1); // the threshold label alone: the verdict waits for the next key
        EXPECT_EQ(itemText(dialog, IDC_VERDICT), "FAILED");
    });
}

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

        struct Child { const char* cls; int id; const char* text; };
        const Child expected[] = {{"Static", -1, ""}, {"Static", -1, "Typrova Version 1.0"},
                                  {"Static", -1, nullptr}, {"Button", IDOK, "OK"}};
        HWND child = GetWindow(about, GW_CHILD);
        for (const Child& want : expected) {
            ASSERT_NE(child, nullptr);
            char cls[64] = {};
            GetClassNameA(child, cls, sizeof cls);
            EXPECT_STRCASEEQ(cls, want.cls);
            if (want.id != -1) {
                EXPECT_EQ(GetDlgCtrlID(child), want.id);
            }
            if (want.text && *want.text) {
                EXPECT_EQ(harness::text(child), want.text);
            }
            child = GetWindow(child, GW_HWNDNEXT);
        }
        EXPECT_EQ(child, nullptr) << "the About box has four controls";
        EXPECT_EQ(GetWindowLongPtrA(GetWindow(about, GW_CHILD), GWL_STYLE) & SS_TYPEMASK, SS_ICON);

        RECT main{}, box{};
        GetWindowRect(dialog, &main);
        GetWindowRect(about, &box);
        EXPECT_NEAR((main.left + main.right) / 2.0, (box.left + box.right) / 2.0, 1.0);
        EXPECT_NEAR((main.top + main.bottom) / 2.0, (box.top + box.bottom) / 2.0, 1.0);

        SendMessageA(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
        EXPECT_TRUE(harness::waitForClose(about));
        EXPECT_TRUE(IsWindow(dialog));
        EXPECT_TRUE(IsWindowEnabled(dialog));
    });
}

TEST_F(MainWindow, OpensCentredOnTheScreen)
{
    run([](HWND dialog) {
        RECT window{};
        GetWindowRect(dialog, &window);
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        GetMonitorInfoA(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &monitor);
        const RECT& work = monitor.rcWork;
        EXPECT_NEAR((window.left + window.right) / 2.0, (work.left + work.right) / 2.0, 1.0);
        EXPECT_NEAR((window.top + window.bottom) / 2.0, (work.top + work.bottom) / 2.0, 1.0);
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

TEST_F(MainWindow, MinimisedWindowAnswersTheDragIconAndStaysAlive)
{
    run([](HWND dialog) {
        const HICON icon = reinterpret_cast<HICON>(SendMessageA(dialog, WM_GETICON, ICON_BIG, 0));
        EXPECT_NE(icon, nullptr);
        EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(dialog, WM_QUERYDRAGICON, 0, 0)), icon);
        SendMessageA(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        EXPECT_TRUE(IsIconic(dialog));
        RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
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

namespace {

// A dialog on the main template whose slider asks for item-level custom draw: the items are
// only drawn through notifications if the answer to the first one reached the trackbar.
class CustomDrawProbe : public CDialog {
public:
    CustomDrawProbe() : CDialog(IDD_TYPROVA_DIALOG) {}
    std::atomic<int> itemNotifications{0};
    const MessageMap* GetMessageMap() const override
    {
        static constexpr MessageEntry entries[] = {
            handle<&CustomDrawProbe::OnCustomDraw, NotifyParams>(onNotify(NM_CUSTOMDRAW, IDC_THRESHOLD)),
        };
        static const MessageMap map = makeMessageMap(CDialog::GetMessageMap(), entries);
        return &map;
    }
    void OnCustomDraw(NMHDR* header, LRESULT* result)
    {
        const auto* draw = reinterpret_cast<NMCUSTOMDRAW*>(header);
        if (draw->dwDrawStage == CDDS_PREPAINT)
            *result = CDRF_NOTIFYITEMDRAW;
        else if (draw->dwDrawStage == CDDS_ITEMPREPAINT)
            ++itemNotifications;
    }
};

// An edit control that records the text it holds when its key handlers run.
class RecordingEdit : public CEdit {
public:
    std::vector<std::string> seen;
    const MessageMap* GetMessageMap() const override
    {
        static constexpr MessageEntry entries[] = {
            handle<&RecordingEdit::OnKeyDown, KeyParams>(onMessage(WM_KEYDOWN), When::AfterDefault),
            handle<&RecordingEdit::OnKeyUp, KeyParams>(onMessage(WM_KEYUP), When::AfterDefault),
        };
        static const MessageMap map = makeMessageMap(nullptr, entries);
        return &map;
    }
    void OnKeyDown(UINT, UINT, UINT) { seen.push_back("down:" + harness::text(m_hWnd)); }
    void OnKeyUp(UINT, UINT, UINT) { seen.push_back("up:" + harness::text(m_hWnd)); }
};

class SubclassProbe : public CDialog {
public:
    SubclassProbe() : CDialog(IDD_TYPROVA_DIALOG) {}
    RecordingEdit edit;

protected:
    void DoDataExchange(CDataExchange& exchange) override { DDX_Control(exchange, IDC_ENTERED, edit); }
};

} // namespace

TEST(Framework, CustomDrawAnswerReachesTheControl)
{
    CustomDrawProbe probe;
    harness::runModal(probe, "Typrova", [&](HWND dialog) {
        RedrawWindow(GetDlgItem(dialog, IDC_THRESHOLD), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        for (int i = 0; i < 100 && probe.itemNotifications == 0; ++i)
            Sleep(10);
    });
    EXPECT_GT(probe.itemNotifications.load(), 0);
}

TEST(Framework, SubclassedEditSeesKeysAfterItsOwnProcessing)
{
    SubclassProbe probe;
    harness::runModal(probe, "Typrova", [&](HWND dialog) {
        const HWND edit = GetDlgItem(dialog, IDC_ENTERED);
        SetWindowTextA(edit, "abc");
        SendMessageA(edit, EM_SETSEL, 0, 0);
        SendMessageA(edit, WM_KEYDOWN, VK_DELETE, 1); // the edit deletes "a" in its own handling
        SendMessageA(edit, WM_KEYUP, VK_DELETE, 0xC0000001);
        SendMessageA(edit, WM_SYSKEYDOWN, 'X', 0x202D0001); // Alt+X: a system key
    });
    EXPECT_EQ(probe.edit.seen, (std::vector<std::string>{"down:bc", "up:bc"}));
    EXPECT_EQ(probe.edit.GetSafeHwnd(), nullptr) << "detached when the control was destroyed";
}
