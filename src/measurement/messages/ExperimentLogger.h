#pragma once
// The experimentation client's logger, as the flag functions need it. The
// experimentation client implements it over the measurement monitor; tests
// record what it is given.

#include <optional>
#include <string>

class ExperimentLogger {
public:
    virtual ~ExperimentLogger() = default;
    // level 1 is error; context is the description of one object, if any.
    virtual void logWithLevel(int level, long messageCode, const std::string& message,
                              const std::optional<std::string>& context) = 0;
};
