// The message-table search shared by every window and the application object.
#include "message_map.h"

bool matchesEntry(const MessageEntry& entry, const MessageContext& message)
{
    if (message.message != entry.what.message)
        return false;
    switch (entry.what.match) {
    case Match::Message:
        return true;
    case Match::Command:
        return LOWORD(message.wParam) == entry.what.id && HIWORD(message.wParam) == entry.what.code;
    case Match::Notify: {
        const auto* header = reinterpret_cast<const NMHDR*>(message.lParam);
        return header && header->idFrom == entry.what.id && header->code == entry.what.code;
    }
    }
    return false;
}

bool routeMessage(CCmdTarget& target, const MessageMap* map, MessageContext& message, When when)
{
    for (; map; map = map->base) {
        for (std::size_t i = 0; i < map->count; ++i) {
            const MessageEntry& entry = map->entries[i];
            if (entry.when != when || !matchesEntry(entry, message))
                continue;
            message.declined = false;
            if (entry.invoke(target, message))
                return true;
        }
    }
    message.declined = false;
    return false;
}
