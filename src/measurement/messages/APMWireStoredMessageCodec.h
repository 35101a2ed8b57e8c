#pragma once
// The database stores messages as encoded bytes and sits below the message
// layer; this codec answers what it needs to know of them (bundle facts and
// retry count, a configuration's app ID, a filter's flags) by decoding them
// with the real wire messages. The engine installs it at start; tests and
// benches that use the database install it themselves.

#include <cstdint>
#include <optional>
#include <string>

#include "measurement/storage/APMStoredMessageCodec.h"

class APMWireStoredMessageCodec final : public APMStoredMessageCodec {
public:
    std::optional<APMBundleFacts> bundleFacts(const APMBytes& encodedBundle) const override;
    std::optional<APMBytes> bundleWithRetryCount(const APMBytes& encodedBundle, std::int32_t retryCount) const override;
    std::optional<std::string> measurementConfigAppID(const APMBytes& encodedConfig) const override;
    std::optional<APMFilterFlags> eventFilterFlags(const APMBytes& encodedFilter) const override;
    std::optional<APMFilterFlags> propertyFilterFlags(const APMBytes& encodedFilter) const override;
};
