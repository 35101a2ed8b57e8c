// The facade's event road: checks on the caller's thread, the timestamp and
// the queueing, the hand-over to the engine on the serial queue; the
// interceptor, the listeners and opened links.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

#include "VadovaUtilities/VULNetwork.h"
#include "VeredodaAnalytics/APMAnalytics.h"
#include "VeredodaAnalytics/APMAnalyticsState.h"
#include "measurement/interface/APMDataTypeValidator.h"
#include "measurement/interface/APMErrorEvents.h"
#include "measurement/storage/APMDecimalNumber.h"
#include "measurement/storage/APMMonitor.h"

using apm_analytics::state;

namespace {

constexpr const char* kScreenParameterNames[] = {"_si", "_sc", "_sn"};

bool holdsScreenParameter(const std::optional<APMObjectParameters>& parameters) {
    if (!parameters) return false;
    return std::any_of(std::begin(kScreenParameterNames), std::end(kScreenParameterNames),
                       [&](const char* name) { return APMFindObject(*parameters, name) != nullptr; });
}

std::optional<APMObjectParameters> addedScreenParameters(const std::optional<APMObjectParameters>& parameters) {
    if (holdsScreenParameter(parameters)) return std::nullopt;
    const auto& screenParameters = APMAnalyticsEngineBridge::engineSeams().screenParameters;
    return screenParameters ? screenParameters() : std::nullopt;
}

// The integer of a decimal text, its fraction dropped; beyond the 64-bit
// range it saturates instead of wrapping.
std::int64_t saturatedInteger(const std::string& text) {
    std::size_t position = 0;
    bool negative = false;
    if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
        negative = text[position] == '-';
        ++position;
    }
    constexpr std::uint64_t kMaxMagnitude = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    const std::uint64_t limit = negative ? kMaxMagnitude + 1 : kMaxMagnitude;
    std::uint64_t magnitude = 0;
    for (; position < text.size() && text[position] >= '0' && text[position] <= '9'; ++position) {
        const auto digit = static_cast<std::uint64_t>(text[position] - '0');
        if (magnitude > (limit - digit) / 10) {
            magnitude = limit;
            break;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (!negative) return static_cast<std::int64_t>(magnitude);
    if (magnitude == kMaxMagnitude + 1) return std::numeric_limits<std::int64_t>::min();
    return -static_cast<std::int64_t>(magnitude);
}

}  // namespace

void APMAnalytics::logEventWithName(const std::string& name, std::optional<APMObjectParameters> parameters) {
    logEventWithOrigin("app", name, std::move(parameters));
}

void APMAnalytics::logEventWithOrigin(const std::string& origin, const std::string& name,
                                      std::optional<APMObjectParameters> parameters) {
    APMValidationFailure failure = APMValidationFailure::None;
    if (!APMDataTypeValidator::isValidPublicEventName(std::string_view(name), &failure)) {
        const APMValue offending(name);
        APMLogErrorEvent(failure == APMValidationFailure::Reserved ? APMErrorCodeEventNameIsReserved
                                                                   : APMErrorCodeInvalidEventName,
                         std::string_view(name), APMDataTypeValidator::kMaxEventNameLength, &offending);
        queueOperationWithBlock([] {
            if (APMAnalyticsEngineBridge::hasEngine()) {
                APMAnalyticsEngineBridge::incrementDiagnosticsSignal("event_dropped_count", "invalid_event_name");
            }
        });
        return;
    }
    logEventWithOrigin(origin, true, name, std::move(parameters));
}

void APMAnalytics::logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                              std::optional<APMObjectParameters> parameters) {
    logEventWithOrigin(origin, false, name, std::move(parameters));
}

void APMAnalytics::logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                      std::optional<APMObjectParameters> parameters) {
    if (name == "screen_view") {
        const auto& track = APMAnalyticsEngineBridge::engineSeams().trackScreenWithParameters;
        if (track) track(parameters.value_or(APMObjectParameters{}), now());
        return;
    }
    auto added = addedScreenParameters(parameters);
    const auto facade = state();
    // Stamping and queueing as one step keeps the queue in timestamp order.
    std::lock_guard lock(facade->timestampMutex);
    const double timestamp = facade->dispatcher.clock().now();
    queueOperationWithBlock([origin, isPublicEvent, name, parameters = std::move(parameters), timestamp,
                             added = std::move(added)]() mutable {
        logEventOnSerialQueueWithOrigin(origin, isPublicEvent, name, std::move(parameters), timestamp, false, false,
                                        std::move(added));
    });
}

void APMAnalytics::logInternalEventWithOrigin(const std::string& origin, const std::string& name, double timestamp,
                                              std::optional<APMObjectParameters> parameters) {
    auto added = addedScreenParameters(parameters);
    queueOperationWithBlock(
        [origin, name, timestamp, parameters = std::move(parameters), added = std::move(added)]() mutable {
            logEventOnSerialQueueWithOrigin(origin, false, name, std::move(parameters), timestamp, false, false,
                                            std::move(added));
        });
}

void APMAnalytics::logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                      std::optional<APMObjectParameters> parameters, double timestamp,
                                      bool ignoreEnabled, bool ignoreInterceptor) {
    queueOperationWithBlock([=, parameters = std::move(parameters)]() mutable {
        logEventOnSerialQueueWithOrigin(origin, isPublicEvent, name, std::move(parameters), timestamp, ignoreEnabled,
                                        ignoreInterceptor, std::nullopt);
    });
}

void APMAnalytics::logEventOnSerialQueueWithOrigin(const std::string& origin, bool isPublicEvent,
                                                   const std::string& name,
                                                   std::optional<APMObjectParameters> parameters, double timestamp,
                                                   bool ignoreEnabled, bool ignoreInterceptor,
                                                   std::optional<APMObjectParameters> addedScreenParameters) {
    APMValidationFailure failure = APMValidationFailure::None;
    if (ignoreInterceptor && !addedScreenParameters && parameters &&
        APMDataTypeValidator::isValidForwardedEventOrigin(std::string_view(origin), &failure)) {
        APMObjectParameters screen;
        APMObjectParameters rest;
        for (auto& entry : *parameters) {
            const bool isScreen = std::any_of(std::begin(kScreenParameterNames), std::end(kScreenParameterNames),
                                              [&](const char* screenName) { return entry.first == screenName; });
            (isScreen ? screen : rest).push_back(std::move(entry));
        }
        parameters = std::move(rest);
        addedScreenParameters = std::move(screen);
    }
    if (!APMAnalyticsEngineBridge::hasEngine()) return;
    const auto facade = state();
    APMAnalyticsEngineBridge::logEvent(origin, isPublicEvent, name, std::move(parameters), timestamp,
                                       facade->enabled.load(), ignoreEnabled, ignoreInterceptor, facade->interceptor,
                                       std::move(addedScreenParameters));
}

void APMAnalytics::logInternalEvent(const std::string& origin, const std::string& name,
                                    std::optional<APMObjectParameters> parameters) {
    if (origin == "am" && parameters) {
        for (auto& [key, value] : *parameters) {
            if (key != "_aeid") continue;
            const auto* property = std::get_if<platform::PropertyValue>(&value);
            const std::string* text = property ? property->asString() : nullptr;
            if (!text) continue;
            if (APMIsDecimalNumberString(*text)) {
                value = APMValue(saturatedInteger(*text));
            } else {
                APMMonitor::shared()->log(2, 25024, "AdEvent ID string is not a number");
            }
        }
    }
    logInternalEventWithOrigin(origin, name, std::move(parameters));
}

void APMAnalytics::setLogEventInterceptor(APMLogEventInterceptor interceptor) {
    auto work = [interceptor = std::move(interceptor)]() mutable { state()->interceptor = std::move(interceptor); };
    if (isCurrentQueueSerialQueue()) {
        work();
    } else {
        queueOperationWithBlock(std::move(work));
    }
}

std::optional<APMLogEventListenerToken> APMAnalytics::addLogEventListener(APMLogEventListener listener) {
    if (!listener) {
        APMMonitor::shared()->log(2, 25012, "Attempted addition of nil log event listener.");
        return std::nullopt;
    }
    const auto held = state();
    const APMLogEventListenerToken token = held->nextToken.fetch_add(1);
    held->listenersHeld.fetch_add(1);
    auto work = [token, listener = std::move(listener)]() mutable {
        const auto facade = state();
        facade->hasListenerTable = true;
        facade->listeners.emplace_back(token, std::move(listener));
    };
    if (isCurrentQueueSerialQueue()) {
        work();
    } else {
        queueOperationWithBlock(std::move(work));
    }
    return token;
}

void APMAnalytics::removeLogEventListener(std::optional<APMLogEventListenerToken> token) {
    if (!token) {
        APMMonitor::shared()->log(2, 25013, "Attempted removal of nil log event.");
        return;
    }
    queueOperationWithBlock([token = *token] {
        const auto facade = state();
        if (!facade->hasListenerTable) {
            APMMonitor::shared()->log(2, 25014, "Attempted removal of nil log event listener.");
            return;
        }
        auto& table = facade->listeners;
        const auto found =
            std::find_if(table.begin(), table.end(), [token](const auto& entry) { return entry.first == token; });
        if (found == table.end()) {
            APMMonitor::shared()->log(2, 25015, "Attempted removal of log event listener with invalid token.");
            return;
        }
        table.erase(found);
        facade->listenersHeld.fetch_sub(1);
    });
}

void APMAnalytics::notifyEventListeners(const APMEvent& event) { handEventToListeners(event.copy()); }

bool APMAnalytics::hasEventListeners() { return state()->listenersHeld.load() > 0; }

void APMAnalytics::handEventToListeners(APMEvent event) {
    if (!hasEventListeners()) return;
    queueOperationWithBlock([event = std::move(event)] { notifyEventListenersOnSerialQueue(event); });
}

void APMAnalytics::notifyEventListenersOnSerialQueue(const APMEvent& event) {
    // A snapshot: a listener may add or remove listeners while it is called.
    const auto listeners = state()->listeners;
    for (const auto& entry : listeners) {
        try {
            entry.second(event);
        } catch (...) {
            // A listener's failure is its own; the others still hear the event.
        }
    }
}

void APMAnalytics::setOpenURLListener(std::function<void(const std::string& url)> listener) {
    dispatchAsyncOnSerialQueue([listener = std::move(listener)]() mutable {
        state()->openURLListener = std::move(listener);
    });
}

void APMAnalytics::handleOpenURL(const std::string& url, std::optional<std::string> metadata) {
    const double timestamp = now();
    const auto& seams = APMAnalyticsEngineBridge::engineSeams();
    if (seams.handleSVTMDebugModeWithURL) seams.handleSVTMDebugModeWithURL(url);
    queueOperationWithBlock([url, timestamp, metadata = std::move(metadata)] {
        APMAnalyticsEngineBridge::incrementDiagnosticsSignal("handle_open_url", metadata.value_or(""));
        const auto& handle = APMAnalyticsEngineBridge::engineSeams().handleNonFirstOpenEventURL;
        if (handle) handle(url, timestamp, std::nullopt);
        if (const auto listener = state()->openURLListener) listener(url);
    });
}

void APMAnalytics::handleUserActivity(const std::optional<platform::UserActivity>& activity,
                                      std::optional<std::string> metadata) {
    const double timestamp = now();
    queueOperationWithBlock([activity, timestamp, metadata = std::move(metadata)] {
        APMAnalyticsEngineBridge::incrementDiagnosticsSignal("handle_user_activity", metadata.value_or(""));
        const std::optional<std::string> link = APMAnalyticsEngineBridge::deepLinkFromUserActivity(activity);
        if (!link || link->empty()) return;
        const auto& handle = APMAnalyticsEngineBridge::engineSeams().handleNonFirstOpenEventURL;
        if (handle) handle(*link, timestamp, activity->referrerURL);
    });
}

void APMAnalytics::handleEventsForBackgroundURLSession(const std::string& identifier,
                                                       const std::function<void()>& completionHandler) {
    VULNetwork::handleEventsForBackgroundURLSessionID(identifier, completionHandler);
}
