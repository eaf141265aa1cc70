// Subclassed controls on a live dialog: a handler that runs instead of the control's own
// processing, one that declines and leaves the message to it, and labels whose new text is
// read before it is drawn.
#include "controls.h"
#include "dialog.h"
#include "harness.h"
#include "label.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

// An edit control that takes the context menu itself, swallows the character 'y' and leaves
// every other character to the edit control.
class MenuTakingEdit : public CEdit {
public:
    std::atomic<int> menus{0};
    const MessageMap* GetMessageMap() const override
    {
        static constexpr MessageEntry entries[] = {
            handle<&MenuTakingEdit::OnContextMenu, ContextMenuParams>(onMessage(WM_CONTEXTMENU)),
            handle<&MenuTakingEdit::OnChar, RawParams>(onMessage(WM_CHAR)),
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
};

class ControlProbe : public CDialog {
public:
    ControlProbe() : CDialog(IDD_TYPROVA_DIALOG) {}
    MenuTakingEdit edit;
    CLabel label;
    bool repeatedTextKept = true;

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

bool menuShowing()
{
    const HWND menu = FindWindowA("#32768", nullptr);
    return menu && IsWindowVisible(menu);
}

} // namespace

TEST(Subclass, HandlerRunsInsteadOfTheControlOrDeclinesToIt)
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
        menuSeen = menuShowing();
        if (!answered || menuSeen)
            PostMessageA(edit, WM_CANCELMODE, 0, 0);
        for (char c : {'x', 'y', 'z'})
            SendMessageA(edit, WM_CHAR, static_cast<WPARAM>(c), 1);
        typed = harness::text(edit);
    });
    EXPECT_TRUE(answered);
    EXPECT_FALSE(menuSeen) << "the control's own context menu opened";
    EXPECT_EQ(probe.edit.menus.load(), 1);
    EXPECT_EQ(typed, "xz") << "declined characters reach the edit control, the taken one does not";
}

TEST(Subclass, LabelTextIsCurrentForAnyReaderBeforeItIsDrawn)
{
    ControlProbe probe;
    std::string read;
    harness::runModal(probe, "Typrova", [&](HWND dialog) { read = harness::itemText(dialog, IDC_SCORE); });
    EXPECT_EQ(read, "12.34");
    EXPECT_FALSE(probe.repeatedTextKept) << "the same text again is not kept for another write";
    EXPECT_EQ(probe.label.GetSafeHwnd(), nullptr) << "detached when the control was destroyed";
}
