#include "measurement/messages/APMWireStoredMessageCodec.h"

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/APMPBMessages.h"
#include "measurement/messages/MessageSlots.h"

std::optional<APMBundleFacts> APMWireStoredMessageCodec::bundleFacts(const APMBytes& encodedBundle) const {
    auto bundle = APMPBMeasurementBundle::initWithBuffer(encodedBundle);
    if (!bundle) return std::nullopt;
    APMBundleFacts facts;
    facts.hasAppID = !APMPBGetString(*bundle, MeasurementBundleSlot::AppID).value_or("").empty();
    if (APMPBHasField(*bundle, MeasurementBundleSlot::EndTimestamp)) {
        facts.endTimestamp = APMPBGetInt64(*bundle, MeasurementBundleSlot::EndTimestamp);
    }
    if (APMPBHasField(*bundle, MeasurementBundleSlot::UploadRetryCount)) {
        facts.retryCount = APMPBGetInt32(*bundle, MeasurementBundleSlot::UploadRetryCount);
    }
    const auto events = APMPBGetArray(*bundle, MeasurementBundleSlot::Events, &APMPBEvent::classObject());
    facts.eventCount = events ? events->size() : 0;
    return facts;
}

std::optional<APMBytes> APMWireStoredMessageCodec::bundleWithRetryCount(const APMBytes& encodedBundle,
                                                                         std::int32_t retryCount) const {
    auto bundle = APMPBMeasurementBundle::initWithBuffer(encodedBundle);
    if (!bundle) return std::nullopt;
    APMPBSetInt32(*bundle, MeasurementBundleSlot::UploadRetryCount, retryCount);
    const auto encoded = bundle->protoBuffer();
    if (!encoded) return std::nullopt;
    return encoded->toVector();
}

std::optional<std::string> APMWireStoredMessageCodec::measurementConfigAppID(const APMBytes& encodedConfig) const {
    auto config = APMPBMeasurementConfig::initWithBuffer(encodedConfig);
    if (!config) return std::nullopt;
    return APMPBGetString(*config, MeasurementConfigSlot::AppID).value_or("");
}

std::optional<APMFilterFlags> APMWireStoredMessageCodec::eventFilterFlags(const APMBytes& encodedFilter) const {
    auto filter = APMPBEventFilter::initWithBuffer(encodedFilter);
    if (!filter) return std::nullopt;
    return APMFilterFlags{APMPBGetBool(*filter, EventFilterSlot::SessionScoped),
                          APMPBGetBool(*filter, EventFilterSlot::Dynamic),
                          APMPBGetBool(*filter, EventFilterSlot::Sequence)};
}

std::optional<APMFilterFlags> APMWireStoredMessageCodec::propertyFilterFlags(const APMBytes& encodedFilter) const {
    auto filter = APMPBPropertyFilter::initWithBuffer(encodedFilter);
    if (!filter) return std::nullopt;
    return APMFilterFlags{APMPBGetBool(*filter, PropertyFilterSlot::SessionScoped),
                          APMPBGetBool(*filter, PropertyFilterSlot::Dynamic),
                          APMPBGetBool(*filter, PropertyFilterSlot::Sequence)};
}
