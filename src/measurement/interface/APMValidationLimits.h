#pragma once
// The limits on events that the remote measurement configuration may move
// (each already bounded and defaulted by the configuration's own rules). The
// configuration sits above this layer, so the engine installs a source here;
// the checks read it at every call, so a newly fetched configuration counts
// from the next check on. Without a source the defaults hold. Safe from any
// thread.

#include <cstdint>
#include <functional>

struct APMValidationLimits {
    std::int64_t maxPublicEventParameterValueLength = 500;
    // Never below 256: the greater of the public length and 256.
    std::int64_t maxInternalEventParameterValueLength = 500;
    std::int64_t maxPublicEventParams = 100;
    std::int64_t maxItemScopedCustomParameters = 27;
};

using APMValidationLimitsSource = std::function<APMValidationLimits()>;

// Installs `source` (an empty function restores the defaults) and returns the previous one.
APMValidationLimitsSource APMSetValidationLimitsSource(APMValidationLimitsSource source);
APMValidationLimits APMCurrentValidationLimits();
