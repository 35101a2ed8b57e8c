#pragma once
// The elements of a repeated message field as typed wrappers: the form in
// which the message helpers walk lists of sub-messages.

#include <memory>
#include <iterator>
#include <optional>
#include <variant>
#include <vector>

#include "measurement/messages/APMPBFieldAccess.h"

// Empty for a field without elements or a message without a record.
template <class Wrapper>
std::vector<std::shared_ptr<Wrapper>> APMPBGetMessages(const NANOMessageBase& message, int slot) {
    std::vector<std::shared_ptr<Wrapper>> messages;
    std::optional<APMPBArray> objects = APMPBGetArray<Wrapper>(message, slot);
    if (!objects) {
        return messages;
    }
    for (APMPBObject& object : *objects) {
        if (auto* element = std::get_if<std::shared_ptr<NANOMessageBase>>(&object)) {
            messages.push_back(std::static_pointer_cast<Wrapper>(std::move(*element)));
        }
    }
    return messages;
}

// Wraps messages as the objects a repeated field is set from.
template <class Wrapper>
APMPBArray APMPBArrayOfMessages(const std::vector<std::shared_ptr<Wrapper>>& messages) {
    return APMPBArray(messages.begin(), messages.end());
}
// Messages handed over (`messages` is empty after): set into a field, their
// records move there instead of being copied.
template <class Wrapper>
APMPBArray APMPBArrayOfMessages(std::vector<std::shared_ptr<Wrapper>>&& messages) {
    APMPBArray objects(std::make_move_iterator(messages.begin()), std::make_move_iterator(messages.end()));
    messages.clear();
    return objects;
}
