#include "platform/desktop/CalendarStore.h"

namespace platform {

namespace {

// No calendar service on this platform: access is out of the user's hands
// (restricted), a request is refused, and there are no events.
class UnavailableCalendarStore final : public CalendarStore {
public:
    CalendarAuthorizationStatus authorizationStatus() const override {
        return CalendarAuthorizationStatus::restricted;
    }
    void requestFullAccessToEvents(AccessCompletion completion) override {
        if (completion) completion(false, std::nullopt);
    }
    std::vector<CalendarStoreEvent> events(double, double) const override { return {}; }
};

}  // namespace

std::shared_ptr<CalendarStore> makeSystemCalendarStore() { return std::make_shared<UnavailableCalendarStore>(); }

}  // namespace platform
