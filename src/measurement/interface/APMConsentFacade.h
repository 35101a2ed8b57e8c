#pragma once
// What consent and TCF handling need of the analytics facade and its engine.
// The facade lives in a higher layer and hands an implementation in when it
// starts.

#include <string>

#include "measurement/storage/APMValue.h"

class APMConsentFacade {
public:
    virtual ~APMConsentFacade() = default;
    // Logs an internal event (as the facade's logInternalEvent does).
    virtual void logInternalEvent(const std::string& origin, const std::string& name,
                                  const APMParameters& parameters) = 0;
    // Sets a user property (as the facade's setUserPropertyString does).
    virtual void setUserPropertyString(const std::string& value, const std::string& name) = 0;
    // Counts a diagnostics signal on the measurement engine; nothing when no
    // engine exists.
    virtual void incrementDiagnosticsSignal(const std::string& name) = 0;
    // Whether the remote configuration carries consent defaults.
    virtual bool hasRemoteConsentDefaults() const = 0;
};
