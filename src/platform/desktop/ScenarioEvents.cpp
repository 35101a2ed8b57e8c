#include "platform/desktop/ScenarioEvents.h"

#include <nlohmann/json.hpp>

#include "platform/desktop/ScenarioSections.h"

namespace platform {

namespace scenario {

namespace {

// Seconds after the start of the run; absent means at once.
double readTime(const Json& entry, const std::string& path) {
    if (!entry.contains("at")) return 0;
    const double at = readNumber(entry.at("at"), childPath(path, "at"));
    if (at < 0) fail(childPath(path, "at"), "must not be negative");
    return at;
}

PropertyValue readUserInfoValue(const Json& value, const std::string& path) {
    if (value.is_string()) return PropertyValue(value.get<std::string>());
    if (value.is_boolean()) return PropertyValue(value.get<bool>());
    if (value.is_number_integer()) {
        return PropertyValue(static_cast<long long>(readInteger(value, path, INT64_MIN, INT64_MAX)));
    }
    if (value.is_number()) return PropertyValue(readNumber(value, path));
    fail(path, "expected a string, a number or true or false");
}

template <typename Enum>
Enum readChoice(const Json& value, const std::string& path,
                std::initializer_list<std::pair<const char*, Enum>> choices) {
    const std::string text = readString(value, path);
    std::string listed;
    for (const auto& [name, choice] : choices) {
        if (text == name) return choice;
        listed += (listed.empty() ? "\"" : ", \"") + std::string(name) + "\"";
    }
    fail(path, "expected one of " + listed);
}

CalendarAuthorizationStatus readAuthorization(const Json& value, const std::string& path) {
    using Status = CalendarAuthorizationStatus;
    return readChoice<Status>(value, path,
                              {{"notDetermined", Status::notDetermined}, {"restricted", Status::restricted},
                               {"denied", Status::denied}, {"fullAccess", Status::fullAccess},
                               {"writeOnly", Status::writeOnly}});
}

ScenarioCalendarEvent readCalendarEvent(const Json& entry, const std::string& path) {
    requireObject(entry, path);
    rejectUnknownMembers(entry, path, {"at", "title", "start", "end", "calendar", "location", "allDay",
                                       "availability", "status"});
    const auto required = [&](const char* key) -> const Json& {
        if (!entry.contains(key)) fail(childPath(path, key), "required");
        return entry.at(key);
    };
    const auto optionalText = [&](const char* key) -> std::optional<std::string> {
        if (!entry.contains(key)) return std::nullopt;
        return readString(entry.at(key), childPath(path, key));
    };
    ScenarioCalendarEvent scheduled;
    scheduled.at = readTime(entry, path);
    CalendarStoreEvent& event = scheduled.event;
    event.title = optionalText("title");
    event.startDate = readNumber(required("start"), childPath(path, "start"));
    event.endDate = readNumber(required("end"), childPath(path, "end"));
    if (event.endDate < event.startDate) fail(childPath(path, "end"), "before the start");
    event.calendarTitle = optionalText("calendar");
    event.location = optionalText("location");
    if (entry.contains("allDay")) event.isAllDay = readBool(entry.at("allDay"), childPath(path, "allDay"));
    if (entry.contains("availability")) {
        using Availability = CalendarEventAvailability;
        event.availability = readChoice<Availability>(
            entry.at("availability"), childPath(path, "availability"),
            {{"notSupported", Availability::notSupported}, {"busy", Availability::busy}, {"free", Availability::free},
             {"tentative", Availability::tentative}, {"unavailable", Availability::unavailable}});
    }
    if (entry.contains("status")) {
        using Status = CalendarEventStatus;
        event.status = readChoice<Status>(entry.at("status"), childPath(path, "status"),
                                          {{"none", Status::none}, {"confirmed", Status::confirmed},
                                           {"tentative", Status::tentative}, {"cancelled", Status::cancelled}});
    }
    return scheduled;
}

}  // namespace

void readPlayerNotifications(const Json& section, const std::string& path, ScenarioEvents& events) {
    if (!section.is_array()) fail(path, "expected an array");
    for (std::size_t index = 0; index < section.size(); ++index) {
        const Json& entry = section[index];
        const std::string at = childPath(path, index);
        requireObject(entry, at);
        rejectUnknownMembers(entry, at, {"at", "name", "userInfo"});
        ScenarioPlayerNotification notification;
        notification.at = readTime(entry, at);
        if (!entry.contains("name")) fail(childPath(at, "name"), "required");
        notification.name = readString(entry.at("name"), childPath(at, "name"));
        if (entry.contains("userInfo")) {
            const std::string infoPath = childPath(at, "userInfo");
            requireObject(entry.at("userInfo"), infoPath);
            notification.userInfo.emplace();
            for (const auto& [key, value] : entry.at("userInfo").items()) {
                (*notification.userInfo)[key] = readUserInfoValue(value, childPath(infoPath, key));
            }
        }
        events.playerNotifications.push_back(std::move(notification));
    }
}

void readCalendar(const Json& section, const std::string& path, ScenarioEvents& events) {
    requireObject(section, path);
    rejectUnknownMembers(section, path, {"authorization", "events"});
    if (section.contains("authorization")) {
        events.calendarAuthorization = readAuthorization(section.at("authorization"), childPath(path, "authorization"));
    }
    if (!section.contains("events")) return;
    const Json& list = section.at("events");
    const std::string listPath = childPath(path, "events");
    if (!list.is_array()) fail(listPath, "expected an array");
    for (std::size_t index = 0; index < list.size(); ++index) {
        events.calendarEvents.push_back(readCalendarEvent(list[index], childPath(listPath, index)));
    }
}

}  // namespace scenario

void scheduleScenarioEvents(const ScenarioEvents& events, Dispatcher& dispatcher, NotificationCenter& distributedCenter,
                            InMemoryCalendarStore& calendarStore) {
    if (events.calendarAuthorization) calendarStore.setAuthorizationStatus(*events.calendarAuthorization);
    const QueueRef main = dispatcher.mainQueue();
    const double start = dispatcher.clock().now();
    for (const auto& notification : events.playerNotifications) {
        main->after(notification.at, [&distributedCenter, notification] {
            distributedCenter.post(notification.name, nullptr, notification.userInfo);
        });
    }
    for (const auto& scheduled : events.calendarEvents) {
        CalendarStoreEvent event = scheduled.event;
        event.startDate += start;
        event.endDate += start;
        main->after(scheduled.at, [&calendarStore, event] { calendarStore.addEvent(event); });
    }
}

}  // namespace platform
