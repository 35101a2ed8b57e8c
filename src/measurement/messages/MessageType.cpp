#include "measurement/messages/MessageType.h"

#include <cstring>

namespace measurement::messages {

const SlotInfo* MessageType::slotForTag(std::uint32_t tag) const {
    std::uint32_t low = 0;
    std::uint32_t high = slotCount;
    while (low < high) {
        const std::uint32_t middle = (low + high) / 2;
        const SlotInfo& candidate = slots[slotsByTag[middle]];
        if (candidate.tag == tag) {
            return &candidate;
        }
        if (candidate.tag < tag) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return nullptr;
}

const MessageType* messageTypeNamed(const char* name) {
    for (const MessageType* type : allMessageTypes()) {
        if (std::strcmp(type->name, name) == 0) {
            return type;
        }
    }
    return nullptr;
}

}  // namespace measurement::messages
