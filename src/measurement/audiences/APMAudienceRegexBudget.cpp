#include "measurement/audiences/APMAudienceRegexBudget.h"

#include "measurement/storage/APMMonitor.h"

bool APMAudienceRegexBudget::run(const std::function<void()>& search) {
    if (remainingSeconds_ <= 0) {
        if (!reportedSpent_) {
            reportedSpent_ = true;
            APMMonitor::shared()->log(1, 9007,
                                      "Regular expression evaluation exceeded its time for this bundle. Remaining "
                                      "audience filters with regular expressions will not be evaluated");
        }
        return false;
    }
    const double started = clock_.uptime();
    search();
    remainingSeconds_ -= clock_.uptime() - started;
    return true;
}
