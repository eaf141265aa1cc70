// The message-table search, tested without a window: order of tables, declining handlers,
// and what Command and Notify entries match.
#include "message_map.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

namespace {

class Base : public CCmdTarget {
public:
    std::string log;
    const MessageMap* GetMessageMap() const override
    {
        static constexpr MessageEntry entries[] = {
            handle<&Base::OnPaint>(onMessage(WM_PAINT)),
            handle<&Base::OnBaseClick>(onClicked(7)),
        };
        static constexpr MessageMap map = makeMessageMap(nullptr, entries);
        return &map;
    }
    void OnPaint() { log += "base-paint;"; }
    void OnBaseClick() { log += "base-click;"; }
};

class Derived : public Base {
public:
    bool declinePaint = false;
    MessageContext* current = nullptr;
    const MessageMap* GetMessageMap() const override
    {
        static constexpr MessageEntry entries[] = {
            handle<&Derived::OnPaint>(onMessage(WM_PAINT)),
            handle<&Derived::OnClick>(onClicked(7)),
            handle<&Derived::OnCustomDraw, NotifyParams>(onNotify(NM_CUSTOMDRAW, 5)),
            handle<&Derived::OnSysCommand, SysCommandParams>(onMessage(WM_SYSCOMMAND)),
            handle<&Derived::OnKeyUp, KeyParams>(onMessage(WM_KEYUP), When::AfterDefault),
            handle<&Derived::OnKeyDown, KeyParams>(onMessage(WM_KEYDOWN)),
            handle<&Derived::OnContextMenu, ContextMenuParams>(onMessage(WM_CONTEXTMENU)),
            handle<&Derived::OnDragIcon>(onMessage(WM_QUERYDRAGICON)),
        };
        static const MessageMap map = makeMessageMap(Base::GetMessageMap(), entries);
        return &map;
    }
    void OnPaint()
    {
        log += "derived-paint;";
        if (declinePaint)
            current->declined = true;
    }
    void OnClick() { log += "derived-click;"; }
    void OnCustomDraw(NMHDR* header, LRESULT* result)
    {
        log += "custom-draw " + std::to_string(header->idFrom) + ";";
        *result = CDRF_NOTIFYITEMDRAW;
    }
    void OnSysCommand(UINT id, LPARAM lParam)
    {
        log += "syscommand " + std::to_string(id) + " " + std::to_string(lParam) + ";";
    }
    void OnKeyUp(UINT key, UINT repeat, UINT flags)
    {
        log += "keyup " + std::to_string(key) + " " + std::to_string(repeat) + " " +
               std::to_string(flags) + ";";
    }
    void OnKeyDown(UINT key, UINT, UINT) { log += "keydown " + std::to_string(key) + ";"; }
    void OnContextMenu(HWND window, POINT at)
    {
        log += "menu " + std::to_string(reinterpret_cast<UINT_PTR>(window)) + " " +
               std::to_string(at.x) + "," + std::to_string(at.y) + ";";
    }
    HICON OnDragIcon() { return reinterpret_cast<HICON>(static_cast<UINT_PTR>(0x1234)); }
};

} // namespace

// One message each on a fresh object: whether an entry took it, which handlers ran in which
// order (with their decoded parameters) and the answer left for the caller.
TEST(Routing, EntriesMatchTheirMessageControlAndCodeAtTheirOwnTimeAndAnswer)
{
    NMHDR draw{nullptr, 5, NM_CUSTOMDRAW};
    NMHDR otherControl{nullptr, 6, NM_CUSTOMDRAW};
    NMHDR outOfMemory{nullptr, 5, static_cast<UINT>(NM_OUTOFMEMORY)};
    struct Case {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        When when;
        bool taken;
        const char* log;
        LRESULT result;
        bool declinePaint = false;
    };
    const auto to = [](NMHDR& header) { return reinterpret_cast<LPARAM>(&header); };
    constexpr When instead = When::Instead, after = When::AfterDefault;
    const Case cases[] = {
        {WM_PAINT, 0, 0, instead, true, "derived-paint;", 0}, // own table before the base's
        // A declining handler passes the message on: the base's entry takes it.
        {WM_PAINT, 0, 0, instead, true, "derived-paint;base-paint;", 0, true},
        {WM_COMMAND, MAKEWPARAM(7, BN_CLICKED), 0, instead, true, "derived-click;", 0},
        {WM_COMMAND, MAKEWPARAM(8, BN_CLICKED), 0, instead, false, "", 0},
        {WM_COMMAND, MAKEWPARAM(7, BN_SETFOCUS), 0, instead, false, "", 0},
        {WM_NOTIFY, 5, to(draw), instead, true, "custom-draw 5;", CDRF_NOTIFYITEMDRAW},
        // NM_OUTOFMEMORY is 0xFFFFFFFF: no entry may take it as a wildcard.
        {WM_NOTIFY, 5, to(outOfMemory), instead, false, "", 0},
        {WM_NOTIFY, 6, to(otherControl), instead, false, "", 0},
        {WM_SYSCOMMAND, 0x0013, 42, instead, true, "syscommand 19 42;", 0},
        {WM_KEYUP, 'A', static_cast<LPARAM>(0xC01E0001u), after, true, "keyup 65 1 49182;", 0},
        // Keyboard-invoked context menus carry -1, -1: the coordinates are signed.
        {WM_CONTEXTMENU, 0x99, static_cast<LPARAM>(0xFFFFFFFFu), instead, true,
         "menu 153 -1,-1;", 0},
        {WM_QUERYDRAGICON, 0, 0, instead, true, "", 0x1234},
        {WM_TIMER, 0, 0, instead, false, "", 0},
        // An after-default entry is not offered beforehand, nor the other way round.
        {WM_KEYUP, 'B', 1, instead, false, "", 0},
        {WM_KEYDOWN, 'B', 1, after, false, "", 0},
        {WM_KEYDOWN, 'B', 1, instead, true, "keydown 66;", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("message " + std::to_string(c.message) + " wParam " +
                     std::to_string(c.wParam) + (c.when == after ? " after default" : "") +
                     (c.declinePaint ? " declined" : ""));
        Derived target;
        target.declinePaint = c.declinePaint;
        MessageContext message{c.message, c.wParam, c.lParam};
        target.current = &message;
        EXPECT_EQ(target.RouteMessage(message, c.when), c.taken);
        EXPECT_EQ(target.log, c.log);
        EXPECT_EQ(message.result, c.result);
    }
}
