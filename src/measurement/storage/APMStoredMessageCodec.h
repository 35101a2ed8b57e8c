#pragma once
// The few things the measurement database must know about the encoded wire
// messages it keeps. The messages live in a layer above storage, so that
// layer installs an implementation at start-up; until one is installed, the
// operations that need it fail with an error instead of guessing.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "measurement/storage/APMBytes.h"

// What the upload queue reads from an encoded MeasurementBundle.
struct APMBundleFacts {
    bool hasAppID = false;                        // field 14 set and not empty
    std::optional<std::int64_t> endTimestamp;     // field 6, milliseconds since 1970
    std::optional<std::int32_t> retryCount;       // field 39
    std::size_t eventCount = 0;                   // elements of field 2
};

// Flags of an encoded EventFilter (fields 8, 6, 7) or PropertyFilter (6, 4, 5).
struct APMFilterFlags {
    bool sessionScoped = false;
    bool dynamic = false;
    bool sequence = false;
};

class APMStoredMessageCodec {
public:
    virtual ~APMStoredMessageCodec() = default;

    // None when the bytes do not decode as a MeasurementBundle.
    [[nodiscard]] virtual std::optional<APMBundleFacts> bundleFacts(const APMBytes& encodedBundle) const = 0;
    // The bundle re-encoded with field 39 set; none when it does not decode.
    [[nodiscard]]
    virtual std::optional<APMBytes> bundleWithRetryCount(const APMBytes& encodedBundle,
                                                         std::int32_t retryCount) const = 0;
    // The `app_id` of an encoded MeasurementConfig (empty when unset); none
    // when the bytes do not decode.
    [[nodiscard]] virtual std::optional<std::string> measurementConfigAppID(const APMBytes& encodedConfig) const = 0;
    [[nodiscard]] virtual std::optional<APMFilterFlags> eventFilterFlags(const APMBytes& encodedFilter) const = 0;
    [[nodiscard]] virtual std::optional<APMFilterFlags> propertyFilterFlags(const APMBytes& encodedFilter) const = 0;

    // The process's codec; null until one is installed.
    static std::shared_ptr<const APMStoredMessageCodec> installed();
    // Installs (or, with null, removes) the process's codec.
    static void install(std::shared_ptr<const APMStoredMessageCodec> codec);
};
