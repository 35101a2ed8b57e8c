#pragma once
// A calendar store kept in memory, for tests and scenario runs. The test
// sets the authorization status, adds and removes events (each change posts
// EKEventStoreChangedNotification on the given centre, object: this store),
// and answers access requests when it chooses: requests wait until
// answerAccessRequests() runs their completions. Thread-safe.

#include <cstddef>
#include <mutex>

#include "platform/desktop/CalendarStore.h"
#include "platform/core/NotificationCenter.h"

namespace platform {

class InMemoryCalendarStore final : public CalendarStore {
public:
    explicit InMemoryCalendarStore(NotificationCenter& center = NotificationCenter::defaultCenter());

    CalendarAuthorizationStatus authorizationStatus() const override;
    void requestFullAccessToEvents(AccessCompletion completion) override;
    std::vector<CalendarStoreEvent> events(double start, double end) const override;

    void setAuthorizationStatus(CalendarAuthorizationStatus status);
    // Every event added gets an identifier for removeEvent().
    std::size_t addEvent(CalendarStoreEvent event);
    void removeEvent(std::size_t identifier);
    void removeAllEvents();

    // Number of access requests made so far, and those still unanswered.
    std::size_t accessRequestCount() const;
    std::size_t pendingAccessRequestCount() const;
    // Answers every waiting request; a grant also sets the status to
    // fullAccess, a refusal to denied.
    void answerAccessRequests(bool granted, const std::optional<std::string>& error = std::nullopt);

private:
    void postChanged();

    NotificationCenter& center_;
    mutable std::mutex mutex_;
    CalendarAuthorizationStatus status_ = CalendarAuthorizationStatus::notDetermined;
    std::vector<std::pair<std::size_t, CalendarStoreEvent>> events_;
    std::size_t nextIdentifier_ = 1;
    std::size_t requestCount_ = 0;
    std::vector<AccessCompletion> pendingRequests_;
};

}  // namespace platform
