// Typed per-class message tables and the search that routes a message through them.
//
// Conventions of this layer:
//  - Each class that handles messages has a static table of MessageEntry rows, built with the
//    typed helpers below (onPaint<&C::OnPaint>(), onClicked<&C::clear>(id), ...). The helper
//    checks the handler's signature at compile time, so a wrong signature cannot crash.
//  - A class's MessageMap points at its base class's map; routing searches the class's own
//    table first, then the base's. A handler may decline (CDialog::Default()), and the search
//    goes on.
//  - What an entry matches is said by its kind: a plain message, a WM_COMMAND by control id and
//    notification code, or a WM_NOTIFY by control id and notification code. There is no
//    catch-all value (NM_OUTOFMEMORY is 0xFFFFFFFF, so UINT_MAX could not mean "any").
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

class CCmdTarget;

// One message on its way through the tables.
struct MessageContext {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    LRESULT result = 0;    // the handler's answer
    bool declined = false; // a handler asked for the default processing instead
};

enum class Match : std::uint8_t { Message, Command, Notify };

struct MessageEntry {
    Match match;
    UINT message; // Match::Message: the message
    UINT code;    // Command: notification code (BN_CLICKED, ...); Notify: NMHDR::code
    UINT id;      // Command and Notify: control or command identifier
    bool (*invoke)(CCmdTarget&, MessageContext&); // false: declined, keep searching
};

struct MessageMap {
    const MessageMap* base; // the base class's map, or nullptr
    const MessageEntry* entries;
    std::size_t count;
};

template <std::size_t N>
constexpr MessageMap makeMessageMap(const MessageMap* base, const MessageEntry (&entries)[N])
{
    return MessageMap{base, entries, N};
}

// Whether an entry is meant for this message.
bool matchesEntry(const MessageEntry& entry, const MessageContext& message);

// Offers the message to the entries of `map` and then of each base map, in order, until a
// handler takes it. Returns whether one did.
bool routeMessage(CCmdTarget& target, const MessageMap* map, MessageContext& message);

namespace detail {

template <class>
struct MemberOf;
template <class C, class R, class... A>
struct MemberOf<R (C::*)(A...)> {
    using Class = C;
};
template <auto Handler>
using HandlerClass = typename MemberOf<decltype(Handler)>::Class;

template <auto Handler, class Signature>
constexpr bool hasSignature = std::is_same_v<decltype(Handler), Signature HandlerClass<Handler>::*>;

template <auto Handler>
HandlerClass<Handler>& self(CCmdTarget& target)
{
    return static_cast<HandlerClass<Handler>&>(target);
}

} // namespace detail

// WM_SYSCOMMAND: void OnSysCommand(UINT id, LPARAM lParam)
template <auto Handler>
constexpr MessageEntry onSysCommand()
{
    static_assert(detail::hasSignature<Handler, void(UINT, LPARAM)>,
                  "WM_SYSCOMMAND handler must be void(UINT id, LPARAM)");
    return {Match::Message, WM_SYSCOMMAND, 0, 0, [](CCmdTarget& t, MessageContext& m) {
                (detail::self<Handler>(t).*Handler)(static_cast<UINT>(m.wParam), m.lParam);
                return !m.declined;
            }};
}

// WM_PAINT: void OnPaint()
template <auto Handler>
constexpr MessageEntry onPaint()
{
    static_assert(detail::hasSignature<Handler, void()>, "WM_PAINT handler must be void()");
    return {Match::Message, WM_PAINT, 0, 0, [](CCmdTarget& t, MessageContext& m) {
                (detail::self<Handler>(t).*Handler)();
                return !m.declined;
            }};
}

// WM_QUERYDRAGICON: HCURSOR OnQueryDragIcon()
template <auto Handler>
constexpr MessageEntry onQueryDragIcon()
{
    static_assert(detail::hasSignature<Handler, HCURSOR()>,
                  "WM_QUERYDRAGICON handler must be HCURSOR()");
    return {Match::Message, WM_QUERYDRAGICON, 0, 0, [](CCmdTarget& t, MessageContext& m) {
                m.result = reinterpret_cast<LRESULT>((detail::self<Handler>(t).*Handler)());
                return !m.declined;
            }};
}

// WM_KEYDOWN / WM_KEYUP: void OnKeyDown(UINT key, UINT repeatCount, UINT flags)
template <UINT Message, auto Handler>
constexpr MessageEntry onKey()
{
    static_assert(Message == WM_KEYDOWN || Message == WM_KEYUP, "key messages only");
    static_assert(detail::hasSignature<Handler, void(UINT, UINT, UINT)>,
                  "key handler must be void(UINT key, UINT repeatCount, UINT flags)");
    return {Match::Message, Message, 0, 0, [](CCmdTarget& t, MessageContext& m) {
                (detail::self<Handler>(t).*Handler)(static_cast<UINT>(m.wParam),
                                                    LOWORD(m.lParam), HIWORD(m.lParam));
                return !m.declined;
            }};
}
template <auto Handler>
constexpr MessageEntry onKeyDown() { return onKey<WM_KEYDOWN, Handler>(); }
template <auto Handler>
constexpr MessageEntry onKeyUp() { return onKey<WM_KEYUP, Handler>(); }

// WM_COMMAND from a control or menu item `id` with notification `code`: void handler()
template <auto Handler>
constexpr MessageEntry onCommand(UINT id, UINT code = 0)
{
    static_assert(detail::hasSignature<Handler, void()>, "command handler must be void()");
    return {Match::Command, WM_COMMAND, code, id, [](CCmdTarget& t, MessageContext& m) {
                (detail::self<Handler>(t).*Handler)();
                return !m.declined;
            }};
}

// A button click: WM_COMMAND with BN_CLICKED from button `id`.
template <auto Handler>
constexpr MessageEntry onClicked(UINT id)
{
    return onCommand<Handler>(id, BN_CLICKED);
}

// WM_NOTIFY `code` from control `id`: void handler(NMHDR* header, LRESULT* result)
template <auto Handler>
constexpr MessageEntry onNotify(UINT code, UINT id)
{
    static_assert(detail::hasSignature<Handler, void(NMHDR*, LRESULT*)>,
                  "notification handler must be void(NMHDR*, LRESULT*)");
    return {Match::Notify, WM_NOTIFY, code, id, [](CCmdTarget& t, MessageContext& m) {
                LRESULT result = 0;
                (detail::self<Handler>(t).*Handler)(reinterpret_cast<NMHDR*>(m.lParam), &result);
                m.result = result;
                return !m.declined;
            }};
}

// Anything that owns a message table: windows and the application object.
class CCmdTarget {
public:
    CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;
    virtual ~CCmdTarget() = default;

    // The most derived class's table; nullptr when no class in the chain has one.
    virtual const MessageMap* GetMessageMap() const { return nullptr; }

    // Routes a message through this object's tables. Returns whether a handler took it.
    bool RouteMessage(MessageContext& message) { return routeMessage(*this, GetMessageMap(), message); }
};
