#pragma once
// The one call through which this layer logs an internal event of its own
// (the "_err" error events): the analytics facade's
// logInternalEventWithOrigin(origin, name, parameters). The facade sits
// above this layer, so it installs its call here when it starts; until then,
// and after it uninstalls it, such events are dropped. Safe from any thread.

#include <functional>
#include <string>

#include "measurement/storage/APMValue.h"

using APMInternalEventLogger =
    std::function<void(const std::string& origin, const std::string& name, const APMParameters& parameters)>;

// Installs `logger` (an empty function uninstalls) and returns the previous one.
APMInternalEventLogger APMSetInternalEventLogger(APMInternalEventLogger logger);

// Hands the event to the installed logger, outside any lock of this layer.
void APMLogInternalEvent(const std::string& origin, const std::string& name, const APMParameters& parameters);
