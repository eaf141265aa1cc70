// Subclassed controls on a live dialog and the two classic faults of a Win32 layer: a handler
// that runs instead of the control's own processing and one that declines to it, an edit
// subclass that sees keys only after the control's own processing, a custom-draw answer that
// reaches the control, and labels whose new text is read before it is drawn.
#include "controls.h"
#include "dialog.h"
#include "harness.h"
#include "label.h"
#include "resource.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

namespace {

// An edit control that takes the context menu itself, swallows the character 'y', leaves
// every other character to the edit control, and records the text it holds when its key
// handlers run.
class ProbeEdit : public CEdit {
public:
    std::atomic<int> menus{0};
    std::vector<std::string> seen;
    const MessageMap* GetMessageMap() const override
    {
        static constexpr MessageEntry entries[] = {
            handle<&ProbeEdit::OnContextMenu, ContextMenuParams>(onMessage(WM_CONTEXTMENU)),
            handle<&ProbeEdit::OnChar, RawParams>(onMessage(WM_CHAR)),
            handle<&ProbeEdit::OnKeyDown, KeyParams>(onMessage(WM_KEYDOWN), When::AfterDefault),
            handle<&ProbeEdit::OnKeyUp, KeyParams>(onMessage(WM_KEYUP), When::AfterDefault),
        };
        static constexpr MessageMap map = makeMessageMap(nullptr, entries);
        return &map;
    }
    void OnContextMenu(HWND, POINT) { ++menus; }
    void OnChar(WPARAM typed, LPARAM)
    {
        if (typed != 'y')
            Default();
    }
    void OnKeyDown(UINT, UINT, UINT) { seen.push_back("down:" + harness::text(m_hWnd)); }
    void OnKeyUp(UINT, UINT, UINT) { seen.push_back("up:" + harness::text(m_hWnd)); }
};

// The main template with a probing edit and label; its slider asks for item-level custom
// draw: the items are only drawn through notifications if the answer to the first one reached
// the trackbar.
class ControlProbe : public CDialog {
public:
    ControlProbe() : CDialog(IDD_TYPROVA_DIALOG) {}
    ProbeEdit edit;
    CLabel label;
    bool repeatedTextKept = true;
    std::atomic<int> itemNotifications{0};
    const MessageMap* GetMessageMap() const override
    {
        static constexpr MessageEntry entries[] = {
            handle<&ControlProbe::OnCustomDraw, NotifyParams>(onNotify(NM_CUSTOMDRAW, IDC_THRESHOLD)),
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

protected:
    void DoDataExchange(CDataExchange& exchange) override
    {
        DDX_Control(exchange, IDC_ENTERED, edit);
        DDX_Control(exchange, IDC_SCORE, label);
    }
    BOOL OnInitDialog() override
    {
        label.SetTextLater("12.34");
        repeatedTextKept = label.SetTextLater("12.34");
        return TRUE;
    }
};

} // namespace

TEST(Subclass, EditHandlersRunInsteadOfTheControlDeclineToItOrFollowIt)
{
    ControlProbe probe;
    bool answered = false;
    bool menuSeen = false;
    std::string typed;
    harness::runModal(probe, "Typrova", [&](HWND dialog) {
        const HWND edit = GetDlgItem(dialog, IDC_ENTERED);
        // The edit control's own answer would be its popup menu, which waits for the user.
        DWORD_PTR ignored = 0;
        answered = SendMessageTimeoutA(edit, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(edit),
                                       MAKELPARAM(-1, -1), SMTO_NORMAL, 3000, &ignored) != 0;
        const HWND menu = FindWindowA("#32768", nullptr); // the popup menu class
        menuSeen = menu && IsWindowVisible(menu);
        if (!answered || menuSeen)
            PostMessageA(edit, WM_CANCELMODE, 0, 0);
        for (char c : {'x', 'y', 'z'})
            SendMessageA(edit, WM_CHAR, static_cast<WPARAM>(c), 1);
        typed = harness::text(edit);

        SetWindowTextA(edit, "abc");
        SendMessageA(edit, EM_SETSEL, 0, 0);
        SendMessageA(edit, WM_KEYDOWN, VK_DELETE, 1); // the edit deletes "a" in its own handling
        SendMessageA(edit, WM_KEYUP, VK_DELETE, 0xC0000001);
        SendMessageA(edit, WM_SYSKEYDOWN, 'X', 0x202D0001); // Alt+X: a system key
    });
    EXPECT_TRUE(answered);
    EXPECT_FALSE(menuSeen) << "the control's own context menu opened";
    EXPECT_EQ(probe.edit.menus.load(), 1);
    EXPECT_EQ(typed, "xz") << "declined characters reach the edit control, the taken one does not";
    EXPECT_EQ(probe.edit.seen, (std::vector<std::string>{"down:bc", "up:bc"}));
    EXPECT_EQ(probe.edit.GetSafeHwnd(), nullptr) << "detached when the control was destroyed";
}

TEST(Subclass, LabelTextAndCustomDrawAnswerReachTheirControls)
{
    ControlProbe probe;
    std::string read;
    harness::runModal(probe, "Typrova", [&](HWND dialog) {
        read = harness::itemText(dialog, IDC_SCORE);
        RedrawWindow(GetDlgItem(dialog, IDC_THRESHOLD), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        for (int i = 0; i < 100 && probe.itemNotifications == 0; ++i)
            Sleep(10);
    });
    EXPECT_EQ(read, "12.34");
    EXPECT_FALSE(probe.repeatedTextKept) << "the same text again is not kept for another write";
    EXPECT_EQ(probe.label.GetSafeHwnd(), nullptr) << "detached when the control was destroyed";
    EXPECT_GT(probe.itemNotifications.load(), 0);
}
