#include "measurement/messages/ScalarValueSlots.h"

#include <string>

#include "measurement/messages/APMPBFieldAccess.h"

void APMPBSetScalarValue(NANOMessageBase& message, const APMPBScalarSlots& slots, const APMValue& value) {
    for (const APMPBScalarSlot& target : slots) {
        switch (target.kind) {
        case APMPBScalarKind::String:
            if (const std::string* text = value.stringValue()) APMPBSetString(message, target.slot, *text);
            break;
        case APMPBScalarKind::Integer:
            if (value.isInt64()) APMPBSetInt64(message, target.slot, value.int64Value());
            break;
        case APMPBScalarKind::Double:
            if (value.isDouble()) APMPBSetDouble(message, target.slot, value.doubleValue());
            break;
        }
    }
}

std::optional<APMValue> APMPBGetScalarValue(const NANOMessageBase& message, const APMPBScalarSlots& slots) {
    for (const APMPBScalarSlot& source : slots) {
        switch (source.kind) {
        case APMPBScalarKind::String:
            if (auto text = APMPBGetString(message, source.slot)) return APMValue(std::move(*text));
            break;
        case APMPBScalarKind::Integer:
            if (APMPBHasField(message, source.slot)) return APMValue(APMPBGetInt64(message, source.slot));
            break;
        case APMPBScalarKind::Double:
            if (APMPBHasField(message, source.slot)) return APMValue(APMPBGetDouble(message, source.slot));
            break;
        }
    }
    return std::nullopt;
}
