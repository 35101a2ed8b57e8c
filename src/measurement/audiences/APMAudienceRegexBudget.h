#pragma once
// The time the regular expressions of audience filters may search in total
// while one bundle is built. Each search is bounded by the regular-expression
// engine's own limit; this bounds their sum, so a costly pattern against
// many events cannot hold the worker queue. Once the budget is spent, every
// further regular-expression filter of the bundle is not evaluable (its
// stored bit stays) and one 9007 line says so. Used on the worker queue only.

#include <functional>

#include "platform/core/Clock.h"

class APMAudienceRegexBudget {
public:
    static constexpr double kDefaultSeconds = 1.0;

    explicit APMAudienceRegexBudget(double seconds = kDefaultSeconds,
                                    const platform::Clock& clock = platform::systemClock())
        : remainingSeconds_(seconds), clock_(clock) {}

    // Runs `search` and charges the time it took; while the budget is spent
    // it runs nothing and answers false (logging 9007 the first time).
    [[nodiscard]] bool run(const std::function<void()>& search);

private:
    double remainingSeconds_;
    const platform::Clock& clock_;
    bool reportedSpent_ = false;
};
