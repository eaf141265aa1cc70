// Typed per-class message tables and the search that routes a message through them.
//
// Conventions of this layer:
//  - Each class that handles messages overrides GetMessageMap() with a static table of
//    MessageEntry rows, built with handle<&C::Handler, Params>(what, when). `Params` decodes the
//    message's parameters for the handler (NoParams, KeyParams, ...); the handler's parameter
//    list must be exactly the decoder's, so a wrong signature is a compile error, not a crash.
//    A new message needs a decoder at most, never a new builder.
//  - A class's MessageMap points at its base class's map; routing searches the class's own
//    table first, then the base's. A handler may decline (CWnd::Default()), and the search
//    goes on; when nobody takes the message, the window's default processing runs.
//  - What an entry matches is said by its kind: a plain message, a WM_COMMAND by control id and
//    notification code, or a WM_NOTIFY by control id and notification code. There is no
//    catch-all value (NM_OUTOFMEMORY is 0xFFFFFFFF, so UINT_MAX could not mean "any").
//  - Each entry says when its handler runs: Instead of the window's default processing (the
//    default runs only if the handler declines), or AfterDefault, with the default's result
//    already decided. A dialog procedure always runs before the dialog manager's own
//    processing, so dialogs take Instead entries; a subclassed control takes both.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <tuple>
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
enum class When : std::uint8_t { Instead, AfterDefault };

// What an entry matches.
struct MessageMatch {
    Match match;
    UINT message;
    UINT code; // Command: notification code (BN_CLICKED, ...); Notify: NMHDR::code
    UINT id;   // Command and Notify: control or command identifier
};

constexpr MessageMatch onMessage(UINT message) { return {Match::Message, message, 0, 0}; }
// WM_COMMAND from control or menu item `id` with notification `code`.
constexpr MessageMatch onCommand(UINT id, UINT code = 0) { return {Match::Command, WM_COMMAND, code, id}; }
constexpr MessageMatch onClicked(UINT id) { return onCommand(id, BN_CLICKED); }
// WM_NOTIFY `code` from control `id`.
constexpr MessageMatch onNotify(UINT code, UINT id) { return {Match::Notify, WM_NOTIFY, code, id}; }

struct MessageEntry {
    MessageMatch what;
    When when;
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

// Offers the message to the `when` entries of `map` and then of each base map, in order, until
// a handler takes it. Returns whether one did.
bool routeMessage(CCmdTarget& target, const MessageMap* map, MessageContext& message,
                  When when = When::Instead);

// Parameter decoders: Params is the handler's parameter list, decode() reads it from the
// message.
struct NoParams {
    using Params = std::tuple<>;
    static Params decode(MessageContext&) { return {}; }
};
struct RawParams {
    using Params = std::tuple<WPARAM, LPARAM>;
    static Params decode(MessageContext& m) { return {m.wParam, m.lParam}; }
};
// WM_SYSCOMMAND: (UINT id, LPARAM)
struct SysCommandParams {
    using Params = std::tuple<UINT, LPARAM>;
    static Params decode(MessageContext& m) { return {static_cast<UINT>(m.wParam), m.lParam}; }
};
// WM_KEYDOWN, WM_KEYUP: (UINT key, UINT repeatCount, UINT flags)
struct KeyParams {
    using Params = std::tuple<UINT, UINT, UINT>;
    static Params decode(MessageContext& m)
    {
        return {static_cast<UINT>(m.wParam), LOWORD(m.lParam), HIWORD(m.lParam)};
    }
};
// WM_CONTEXTMENU: (HWND window, POINT screen position; -1, -1 when it came from the keyboard)
// https://learn.microsoft.com/windows/win32/menurc/wm-contextmenu
struct ContextMenuParams {
    using Params = std::tuple<HWND, POINT>;
    static Params decode(MessageContext& m)
    {
        const POINT at{static_cast<short>(LOWORD(m.lParam)), static_cast<short>(HIWORD(m.lParam))};
        return {reinterpret_cast<HWND>(m.wParam), at};
    }
};
// WM_NOTIFY: (NMHDR* header, LRESULT* answer)
struct NotifyParams {
    using Params = std::tuple<NMHDR*, LRESULT*>;
    static Params decode(MessageContext& m) { return {reinterpret_cast<NMHDR*>(m.lParam), &m.result}; }
};

namespace detail {

template <class>
struct MemberOf;
template <class C, class R, class... A>
struct MemberOf<R (C::*)(A...)> {
    using Class = C;
    using Result = R;
    using Params = std::tuple<A...>;
};

template <class R>
LRESULT toResult(R value)
{
    if constexpr (std::is_pointer_v<R>)
        return reinterpret_cast<LRESULT>(value);
    else
        return static_cast<LRESULT>(value);
}

} // namespace detail

// The one entry builder: `Handler` runs for messages matching `what`, with its parameters
// decoded by `Decoder`; a handler's return value (if any) becomes the message's result.
template <auto Handler, class Decoder = NoParams>
constexpr MessageEntry handle(MessageMatch what, When when = When::Instead)
{
    using Member = detail::MemberOf<decltype(Handler)>;
    static_assert(std::is_same_v<typename Member::Params, typename Decoder::Params>,
                  "the handler's parameters must be exactly the decoder's");
    return {what, when, [](CCmdTarget& target, MessageContext& m) {
                auto& self = static_cast<typename Member::Class&>(target);
                auto call = [&](auto... params) { return (self.*Handler)(params...); };
                if constexpr (std::is_void_v<typename Member::Result>)
                    std::apply(call, Decoder::decode(m));
                else
                    m.result = detail::toResult(std::apply(call, Decoder::decode(m)));
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

    // The most derived class's table; nullptr when no class in the chain has one. A class
    // builds its table once, chained to its base's (a qualified, non-virtual call).
    virtual const MessageMap* GetMessageMap() const { return nullptr; }

    // Routes a message through this object's `when` entries. Returns whether a handler took it.
    bool RouteMessage(MessageContext& message, When when = When::Instead)
    {
        return routeMessage(*this, GetMessageMap(), message, when);
    }
};
