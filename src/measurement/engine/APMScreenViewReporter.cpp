#include "measurement/engine/APMScreenViewReporter.h"

#include <utility>

#include "measurement/engine/APMEngineWiring.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMSessionReporter.h"
#include "measurement/interface/APMAdExposureReporter.h"
#include "measurement/interface/APMDataTypeValidator.h"
#include "measurement/interface/APMParameterSanitizer.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMSharedInstance.h"
#include "measurement/storage/APMNumericUtil.h"

namespace {

const std::string* textOf(const APMObject& object) {
    if (const auto* property = std::get_if<platform::PropertyValue>(&object)) return property->asString();
    return std::get<APMValue>(object).stringValue();
}

bool isValidScreenText(const std::optional<std::string>& text) {
    return text && APMDataTypeValidator::isValidScreenParameterValue(std::string_view(*text), nullptr);
}

// The screen's parameters for the other reporters, without the warnings
// that building the "_vs" parameters gives.
APMParameters quietScreenParameters(const APMScreen& screen) {
    APMParameters parameters;
    parameters.set("_si", APMValue(screen.instanceID));
    if (screen.className && !screen.className->empty()) parameters.set("_sc", APMValue(*screen.className));
    if (screen.name && !screen.name->empty()) parameters.set("_sn", APMValue(*screen.name));
    if (screen.isSwiftUI) parameters.set("_swui", APMValue(std::int64_t{1}));
    return parameters;
}

}  // namespace

// MARK: - Screen parameters

APMParameters APMScreenParameters(const APMScreen& screen) {
    APMParameters parameters;
    parameters.set("_si", APMValue(screen.instanceID));
    if (!screen.className || screen.className->empty()) {
        APMMonitor::shared()->log(3, 31014, "Screen class name is empty");
    } else {
        APMValidationFailure failure = APMValidationFailure::None;
        if (!APMDataTypeValidator::isValidScreenParameterValue(std::string_view(*screen.className), &failure)) {
            APMMonitor::shared()->log(3, 31015, "Screen class name is invalid. Error code",
                                      static_cast<int>(failure));
            return parameters;
        }
        parameters.set("_sc", APMValue(*screen.className));
    }
    if (isValidScreenText(screen.name)) parameters.set("_sn", APMValue(*screen.name));
    if (screen.isSwiftUI) parameters.set("_swui", APMValue(std::int64_t{1}));
    return parameters;
}

APMParameters APMPreviousScreenParameters(const APMScreen& screen) {
    APMParameters parameters;
    parameters.set("_pi", APMValue(screen.instanceID));
    if (screen.className && !screen.className->empty() && isValidScreenText(screen.className)) {
        parameters.set("_pc", APMValue(*screen.className));
    }
    if (isValidScreenText(screen.name)) parameters.set("_pn", APMValue(*screen.name));
    return parameters;
}

// MARK: - Construction

std::shared_ptr<APMScreenViewReporter> APMScreenViewReporter::create(platform::Dispatcher& dispatcher,
                                                                     platform::NotificationCenter& center,
                                                                     SessionReporterProvider sessionReporter) {
    std::shared_ptr<APMScreenViewReporter> reporter(
        new APMScreenViewReporter(dispatcher, center, std::move(sessionReporter)));
    std::weak_ptr<APMScreenViewReporter> weak = reporter;
    reporter->observers_.push_back(center.addObserver(
        kAPMApplicationDidBecomeActiveNotification, nullptr, nullptr, [weak](const platform::Notification&) {
            if (const auto self = weak.lock()) self->handleApplicationDidBecomeActive();
        }));
    reporter->observers_.push_back(center.addObserver(
        kAPMApplicationWillResignActiveNotification, nullptr, nullptr, [weak](const platform::Notification&) {
            if (const auto self = weak.lock()) self->handleApplicationWillResignActive();
        }));
    return reporter;
}

APMScreenViewReporter::APMScreenViewReporter(platform::Dispatcher& dispatcher, platform::NotificationCenter& center,
                                             SessionReporterProvider sessionReporter)
    : center_(center),
      sessionReporter_(std::move(sessionReporter)),
      queue_(dispatcher.makeSerialQueue(kAPMScreenViewReporterQueueLabel)),
      currentScreenInstanceID_(APMNumericUtil::randomInt64()) {}

APMScreenViewReporter::~APMScreenViewReporter() {
    for (const auto& token : observers_) center_.removeObserver(token);
}

using SharedReporter = APMSharedInstance<APMScreenViewReporter>;

std::shared_ptr<APMScreenViewReporter> APMScreenViewReporter::sharedInstance() { return SharedReporter::current(); }

std::shared_ptr<APMScreenViewReporter> APMScreenViewReporter::createSharedInstance(platform::Dispatcher& dispatcher,
                                                                                   platform::NotificationCenter& center) {
    bool made = false;
    const auto reporter = SharedReporter::currentOrMake([&] {
        made = true;
        return create(dispatcher, center);
    });
    if (!made) return reporter;
    APMSetAppActiveProvider([weak = std::weak_ptr<APMScreenViewReporter>(reporter)] {
        const auto self = weak.lock();
        return self && self->isAppActive();
    });
    return reporter;
}

void APMScreenViewReporter::resetSharedInstanceForTesting() {
    SharedReporter::replace(nullptr);
    APMSetAppActiveProvider(nullptr);
}

std::shared_ptr<APMSessionReporter> APMScreenViewReporter::engineSessionReporter() const {
    if (sessionReporter_) return sessionReporter_();
    if (!APMMeasurement::hasSharedInstance()) return nullptr;
    const auto engine = APMMeasurement::sharedInstance();
    return engine && engine->didInitializeComponents() ? engine->sessionReporter() : nullptr;
}

// MARK: - Tracking

std::int64_t APMScreenViewReporter::incrementScreenInstanceID() {
    // Wraps at the top of the range instead of overflowing.
    const auto previous = currentScreenInstanceID_.fetch_add(1);
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(previous) + 1);
}

void APMScreenViewReporter::trackScreenWithParameters(const APMObjectParameters& parameters, double timestamp) {
    const auto& log = APMMonitor::shared();
    if (!isAppActive() && appHasBeenInitialized()) {
        log->log(3, 31026, "Cannot log screen view event when the app is not active");
        return;
    }
    // A present value that is no valid string refuses the whole screen.
    auto screenText = [&](const char* key, long code, const char* message, std::optional<std::string>& text) {
        const APMObject* object = APMFindObject(parameters, key);
        if (!object) return true;
        const std::string* found = textOf(*object);
        if (found && APMDataTypeValidator::isValidScreenParameterValue(std::string_view(*found), nullptr)) {
            text = *found;
            return true;
        }
        log->log(3, code, message, found ? APMLogContext(*found) : APMLogContext(APMObjectClassName(*object)));
        return false;
    };
    std::optional<std::string> name;
    std::optional<std::string> className;
    if (!screenText("screen_name", 31027, "Received invalid name for screen", name)) return;
    if (!screenText("screen_class", 31028, "Received invalid class for screen", className)) return;

    APMScreen screen(name, className, incrementScreenInstanceID());
    screen.isManuallyTracked = true;
    screen.eventTimestamp = timestamp;
    log->log(7, 31029, "Logging screen view with screen name and screen class", name ? *name : "(null)",
             className ? *className : "(null)");
    std::optional<APMScreen> previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::exchange(currentScreen_, screen);
    }
    queue_->async([weak = weak_from_this(), previous = std::move(previous), screen, parameters] {
        const auto self = weak.lock();
        if (!self) return;
        self->postScreenDidChangeNotificationWithPreviousScreen(previous, screen);
        APMParameters rest =
            APMSanitizedEventParameters(parameters, std::string_view("screen_view"), true, false, nullptr)
                .value_or(APMParameters{});
        rest.erase("screen_name");
        rest.erase("screen_class");
        self->logViewScreenEventWithPreviousScreen(previous, screen, rest);
    });
}

void APMScreenViewReporter::postScreenDidChangeNotificationWithPreviousScreen(
    const std::optional<APMScreen>& previousScreen, const APMScreen& newScreen) {
    if (!isAppActive()) return;
    if (previousScreen) {
        if (const auto sessions = engineSessionReporter()) {
            sessions->handleScreenDidChangeFromScreen(&*previousScreen, &newScreen);
        }
    }
    if (const auto exposure = APMAdExposureReporter::sharedInstance()) {
        exposure->handleScreenDidChangeFromScreen(previousScreen ? std::optional(quietScreenParameters(*previousScreen))
                                                                 : std::nullopt);
    }
}

void APMScreenViewReporter::logViewScreenEventWithPreviousScreen(const std::optional<APMScreen>& previousScreen,
                                                                 const std::optional<APMScreen>& newScreen,
                                                                 const APMParameters& parameters) {
    if (!newScreen) return;
    if (!isAppActive() && appHasBeenInitialized()) {
        APMMonitor::shared()->log(7, 31013, "Screen view event not logged. App is not active.");
        return;
    }
    APMParameters event = parameters;
    for (const auto& [name, value] : APMScreenParameters(*newScreen)) event.set(name, value);
    if (previousScreen) {
        for (const auto& [name, value] : APMPreviousScreenParameters(*previousScreen)) event.set(name, value);
        const auto sessions = engineSessionReporter();
        if (sessions && sessions->efficientEngagementReportingEnabled()) {
            if (const std::int64_t engagement = sessions->cutFreerideEngagementTimeMillis(); engagement >= 1) {
                event.set("_et", APMValue(engagement));
            }
        }
    }
    event.set("_mst", APMValue(std::int64_t{1}));
    const std::string origin = newScreen->isManuallyTracked ? "app" : "auto";
    if (!event.contains("_si") && !event.contains("_sc") && !event.contains("_sn")) {
        APMMonitor::shared()->log(1, 31012, "Screen view event not logged. Screen parameters were empty");
        return;
    }
    {
        std::lock_guard lock(mutex_);
        previousScreen_ = newScreen;
    }
    if (newScreen->isManuallyTracked) {
        APMReporterLogInternalEvent(origin, "_vs", newScreen->eventTimestamp, event);
    } else {
        APMReporterLogInternalEvent(origin, "_vs", event);
    }
}

// MARK: - Queries

APMParameters APMScreenViewReporter::screenParameters() const {
    if (!isAppActive() && appHasBeenInitialized()) return {};
    std::lock_guard lock(mutex_);
    if (!currentScreen_ || !allowScreenParameters_) return {};
    return quietScreenParameters(*currentScreen_);
}

void APMScreenViewReporter::getScreenName(std::optional<std::string>* name,
                                          std::optional<std::string>* screenClass) const {
    if (!name && !screenClass) return;
    std::lock_guard lock(mutex_);
    if (name) *name = currentScreen_ ? currentScreen_->name : std::nullopt;
    if (screenClass) *screenClass = currentScreen_ ? currentScreen_->className : std::nullopt;
}

void APMScreenViewReporter::setScreenName(const std::optional<std::string>&, const std::optional<std::string>&) {
    APMMonitor::shared()->log(3, 31000,
                              "Ignoring call to setScreenName:screenClass:. Screen reporting is disabled.");
}

std::optional<APMScreen> APMScreenViewReporter::currentScreen() const {
    std::lock_guard lock(mutex_);
    return currentScreen_;
}

std::optional<APMScreen> APMScreenViewReporter::previousScreen() const {
    std::lock_guard lock(mutex_);
    return previousScreen_;
}

// MARK: - Application state

void APMScreenViewReporter::handleApplicationDidBecomeActive() {
    isAppActive_ = true;
    appHasBeenInitialized_ = true;
    if (const auto sessions = engineSessionReporter()) sessions->handleAppDidBecomeActive();
    if (const auto exposure = APMAdExposureReporter::sharedInstance()) exposure->handleAppDidBecomeActive();
}

void APMScreenViewReporter::handleApplicationWillResignActive() {
    if (const auto sessions = engineSessionReporter()) sessions->handleAppWillResignActiveWithScreen(nullptr);
    if (const auto exposure = APMAdExposureReporter::sharedInstance()) {
        exposure->handleAppWillResignActiveWithScreen(std::nullopt);
    }
}

void APMScreenViewReporter::handleApplicationDidEnterBackground() { isAppActive_ = false; }
