// The message-table search shared by every window and the application object.
#include "message_map.h"

bool matchesEntry(const MessageEntry& entry, const MessageContext& message)
{
    if (message.message != entry.message)
        return false;
    switch (entry.match) {
    case Match::Message:
        return true;
    case Match::Command:
        return LOWORD(message.wParam) == entry.id && HIWORD(message.wParam) == entry.code;
    case Match::Notify: {
        const auto* header = reinterpret_cast<const NMHDR*>(message.lParam);
        return header && header->idFrom == entry.id && header->code == entry.code;
    }
    }
    return false;
}

bool routeMessage(CCmdTarget& target, const MessageMap* map, MessageContext& message)
{
    for (; map; map = map->base) {
        for (std::size_t i = 0; i < map->count; ++i) {
            const MessageEntry& entry = map->entries[i];
            if (!matchesEntry(entry, message))
                continue;
            message.declined = false;
            if (entry.invoke(target, message))
                return true;
        }
    }
    message.declined = false;
    return false;
}
