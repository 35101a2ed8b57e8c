// The event's wire form; the message layer owns the field-by-field rules.
#include "measurement/interface/APMEvent.h"

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/EventConversion.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/storage/APMMonitor.h"

std::shared_ptr<APMPBEvent> APMEvent::protoEvent() const {
    return APMPBEventWithContents(name_, timestamp_, previousTimestamp_, parameters_);
}

std::optional<APMEvent> APMEvent::initWithEventProto(const APMPBEvent& proto) {
    std::optional<APMEventContents> contents = APMEventContentsFromProto(proto);
    if (!contents) return std::nullopt;
    // Without "_o" the origin is empty, which the origin rule refuses.
    return initWithOrigin(contents->origin.value_or(""), false, contents->name, contents->timestamp,
                          contents->previousTimestamp, APMObjectParametersFrom(contents->parameters));
}

bool APMEventParamArrayContainsName(const APMPBArray& params, const std::string& name) {
    for (const APMPBObject& object : params) {
        const auto* message = std::get_if<std::shared_ptr<NANOMessageBase>>(&object);
        if (!message || !*message) continue;
        if (APMPBGetString(**message, EventParamSlot::Name) == name) {
            APMMonitor::shared()->log(4, 23156, "Event parameter already exists. Parameter name", name);
            return true;
        }
    }
    return false;
}
