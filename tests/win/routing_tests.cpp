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

bool route(Derived& target, MessageContext& message)
{
    target.current = &message;
    return target.RouteMessage(message);
}

} // namespace

TEST(Routing, OwnTableIsSearchedBeforeTheBaseTable)
{
    Derived target;
    MessageContext paint{WM_PAINT};
    EXPECT_TRUE(route(target, paint));
    EXPECT_EQ(target.log, "derived-paint;");
}

TEST(Routing, DecliningHandlerPassesTheMessageToTheBaseTableAndThenToTheDefault)
{
    Derived target;
    target.declinePaint = true;
    MessageContext paint{WM_PAINT};
    EXPECT_TRUE(route(target, paint)); // taken by the base's entry
    EXPECT_EQ(target.log, "derived-paint;base-paint;");

    Base base; // the base alone takes it without the derived handler
    MessageContext again{WM_PAINT};
    EXPECT_TRUE(base.RouteMessage(again));
    EXPECT_EQ(base.log, "base-paint;");
}

TEST(Routing, CommandsMatchByControlAndNotificationCode)
{
    Derived target;
    MessageContext click{WM_COMMAND, MAKEWPARAM(7, BN_CLICKED), 0};
    EXPECT_TRUE(route(target, click));
    MessageContext otherControl{WM_COMMAND, MAKEWPARAM(8, BN_CLICKED), 0};
    EXPECT_FALSE(route(target, otherControl));
    MessageContext otherCode{WM_COMMAND, MAKEWPARAM(7, BN_SETFOCUS), 0};
    EXPECT_FALSE(route(target, otherCode));
    EXPECT_EQ(target.log, "derived-click;");
}

TEST(Routing, NotificationsMatchByControlAndCodeAndPassTheAnswerBack)
{
    Derived target;
    NMHDR header{nullptr, 5, NM_CUSTOMDRAW};
    MessageContext draw{WM_NOTIFY, 5, reinterpret_cast<LPARAM>(&header)};
    EXPECT_TRUE(route(target, draw));
    EXPECT_EQ(draw.result, CDRF_NOTIFYITEMDRAW);

    // NM_OUTOFMEMORY is 0xFFFFFFFF: no entry may take it as a wildcard.
    NMHDR outOfMemory{nullptr, 5, static_cast<UINT>(NM_OUTOFMEMORY)};
    MessageContext oom{WM_NOTIFY, 5, reinterpret_cast<LPARAM>(&outOfMemory)};
    EXPECT_FALSE(route(target, oom));
    NMHDR otherControl{nullptr, 6, NM_CUSTOMDRAW};
    MessageContext other{WM_NOTIFY, 6, reinterpret_cast<LPARAM>(&otherControl)};
    EXPECT_FALSE(route(target, other));
    EXPECT_EQ(target.log, "custom-draw 5;");
}

TEST(Routing, TypedHandlersReceiveTheirDecodedParametersAndAnswer)
{
    Derived target;
    MessageContext sys{WM_SYSCOMMAND, 0x0013, 42};
    EXPECT_TRUE(route(target, sys));
    MessageContext key{WM_KEYUP, 'A', static_cast<LPARAM>(0xC01E0001u)};
    target.current = &key;
    EXPECT_TRUE(target.RouteMessage(key, When::AfterDefault));
    // Keyboard-invoked context menus carry -1, -1: the coordinates are signed.
    MessageContext menu{WM_CONTEXTMENU, 0x99, static_cast<LPARAM>(0xFFFFFFFFu)};
    EXPECT_TRUE(route(target, menu));
    EXPECT_EQ(target.log, "syscommand 19 42;keyup 65 1 49182;menu 153 -1,-1;");

    MessageContext drag{WM_QUERYDRAGICON};
    EXPECT_TRUE(route(target, drag));
    EXPECT_EQ(drag.result, 0x1234);

    MessageContext unknown{WM_TIMER};
    EXPECT_FALSE(route(target, unknown));
}

TEST(Routing, EntriesAreSearchedOnlyAtTheirOwnTime)
{
    Derived target;
    MessageContext up{WM_KEYUP, 'B', 1};
    EXPECT_FALSE(route(target, up)) << "an after-default entry is not offered beforehand";
    MessageContext down{WM_KEYDOWN, 'B', 1};
    target.current = &down;
    EXPECT_FALSE(target.RouteMessage(down, When::AfterDefault));
    EXPECT_EQ(target.log, "");
    EXPECT_TRUE(route(target, down));
    EXPECT_EQ(target.log, "keydown 66;");
}
