// On-device conversion measurement by private set membership: the first-open
// query from user data, the re-engagement query at session start, the daily
// group-ID query, their retries, and the expiry of what they stored. The
// clients come from an outside library found by class name; without it no
// request is ever sent.
//
// A client kept in the context (waiting for a retry, or past the retry limit)
// is sent again by a later call with user data only when that call passes
// every gate but the retry limit: hashed user data never leaves when consent
// or the feature switch refuses it.

#include <cmath>

#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMOnDeviceConversion.h"
#include "measurement/engine/APMPSMContext.h"
#include "measurement/interface/APMConsentSettingsUtil.h"
#include "measurement/interface/APMIdentity.h"
#include "measurement/storage/APMAlarm.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMEnvironmentInfo.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMScheduler.h"

namespace {

constexpr double kODMValueLifetimeSeconds = 7776000;  // 90 days
constexpr const char* kODM1Value = "odm1_value";
constexpr const char* kODM1SessionValue = "odm1_session_value";
constexpr const char* kODM1GroupID = "odm1_group_id";
constexpr const char* kPSMValue = "_psmvalue";
constexpr const char* kSessionSignal = "odm1_ss_count";
constexpr const char* kPSMCounters[] = {"_psmcount", "_psmcountph", "_psmcounth", "_psmcounthph"};

struct InputKind {
    const char* counter;
    const char* queryKey;
    bool isPhone;
};

InputKind inputKind(std::int64_t inputType) {
    switch (inputType) {
        case 2: return {"_psmcountph", "psm_phone_count", true};
        case 3: return {"_psmcounth", "psm_count", false};
        case 4: return {"_psmcounthph", "psm_phone_count", true};
        default: return {"_psmcount", "psm_count", false};
    }
}

// Every byte but the unreserved characters as %XX.
std::string percentEncoded(const std::string& text) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

// Appends "key=value", encoded, when both are non-empty; "?" starts the query
// when the URL has none yet.
void appendQueryItem(std::string& URL, const std::string& key, const std::string& value) {
    if (key.empty() || value.empty()) return;
    if (URL.find('?') == std::string::npos) {
        URL += '?';
    } else if (URL.back() != '?' && URL.back() != '&') {
        URL += '&';
    }
    URL += percentEncoded(key) + "=" + percentEncoded(value);
}

// The next whole minute strictly after `seconds` (truncated first).
long long nextMinuteBoundary(double seconds) {
    const long long whole = static_cast<long long>(seconds);
    long long minute = whole / 60 * 60;
    if (minute > whole) minute -= 60;  // negative values round down too
    return minute + 60;
}

}  // namespace

// MARK: - Classes and clients

bool APMMeasurement::isAPMPrivateSetMembershipClientLinked() const {
    return VRDClassRegistry::shared().classNamed(kAPMPrivateSetMembershipClientClassName) != nullptr;
}

std::shared_ptr<APMPSMClientClass> APMMeasurement::PSMClientClass() const {
    auto found = VRDClassRegistry::shared().classNamed(kAPMPrivateSetMembershipClientClassName);
    if (!found) found = VRDClassRegistry::shared().classNamed(kODCPrivateSetMembershipClientClassName);
    return std::dynamic_pointer_cast<APMPSMClientClass>(found);
}

std::shared_ptr<APMPSMGroupClientClass> APMMeasurement::PSMGroupClientClass() const {
    return std::dynamic_pointer_cast<APMPSMGroupClientClass>(
        VRDClassRegistry::shared().classNamed(kODCPrivateSetMembershipGroupClientClassName));
}

std::shared_ptr<APMPSMClient> APMMeasurement::PSMClientWithEmailAddress(const std::string& emailAddress) {
    const auto clientClass = PSMClientClass();
    if (!clientClass) return nullptr;
    APMPSMClientArguments arguments{emailAddress, {}, 0, appID_, configuration()->hashPrefixBitLengthEmail()};
    if (clientClass->instancesRespondTo(APMPSMClientInitializer::emailAddressWithPrefix)) {
        return clientClass->makeClient(APMPSMClientInitializer::emailAddressWithPrefix, arguments);
    }
    if (clientClass->instancesRespondTo(APMPSMClientInitializer::emailAddress)) {
        return clientClass->makeClient(APMPSMClientInitializer::emailAddress, arguments);
    }
    return nullptr;
}

std::shared_ptr<APMPSMClient> APMMeasurement::PSMClientWithPhoneNumber(const std::string& phoneNumber) {
    const auto clientClass = PSMClientClass();
    if (!clientClass) return nullptr;
    APMPSMClientArguments arguments{phoneNumber, {}, 0, appID_, configuration()->hashPrefixBitLengthPhone()};
    if (clientClass->instancesRespondTo(APMPSMClientInitializer::phoneNumberWithPrefix)) {
        return clientClass->makeClient(APMPSMClientInitializer::phoneNumberWithPrefix, arguments);
    }
    if (clientClass->instancesRespondTo(APMPSMClientInitializer::phoneNumber)) {
        return clientClass->makeClient(APMPSMClientInitializer::phoneNumber, arguments);
    }
    return nullptr;
}

std::shared_ptr<APMPSMClient> APMMeasurement::PSMClientWithHashedEmailAddress(const std::vector<std::uint8_t>& digest) {
    const auto clientClass = PSMClientClass();
    if (!clientClass || !clientClass->instancesRespondTo(APMPSMClientInitializer::hashedEmailAddress)) return nullptr;
    return clientClass->makeClient(APMPSMClientInitializer::hashedEmailAddress,
                                   {{}, digest, 0, appID_, configuration()->hashPrefixBitLengthEmail()});
}

std::shared_ptr<APMPSMClient> APMMeasurement::PSMClientWithHashedPhoneNumber(const std::vector<std::uint8_t>& digest) {
    const auto clientClass = PSMClientClass();
    if (!clientClass || !clientClass->instancesRespondTo(APMPSMClientInitializer::hashedPhoneNumber)) return nullptr;
    return clientClass->makeClient(APMPSMClientInitializer::hashedPhoneNumber,
                                   {{}, digest, 0, appID_, configuration()->hashPrefixBitLengthPhone()});
}

std::shared_ptr<APMPSMClient> APMMeasurement::PSMClientWithCachedInputs() {
    const auto clientClass = PSMClientClass();
    if (!clientClass || !clientClass->instancesRespondTo(APMPSMClientInitializer::hashedInput)) return nullptr;
    const std::int64_t type = persistedConfig_->PSMInputType();
    const auto config = configuration();
    std::int32_t prefix = 0;
    if (type == 1 || type == 3) prefix = config->PSMSessionStartHashPrefixBitLengthEmail();
    if (type == 2 || type == 4) prefix = config->PSMSessionStartHashPrefixBitLengthPhone();
    return clientClass->makeClient(APMPSMClientInitializer::hashedInput,
                                   {{}, persistedConfig_->PSMHashedInputData().value_or(platform::PropertyData{}),
                                    type, appID_, prefix});
}

std::shared_ptr<APMPSMGroupClient> APMMeasurement::PSMGroupClientWithCachedInputs() {
    const auto clientClass = PSMGroupClientClass();
    if (!clientClass || !clientClass->respondsToInitWithHashedInput()) return nullptr;
    return clientClass->makeClient({{}, persistedConfig_->PSMHashedInputData().value_or(platform::PropertyData{}),
                                    persistedConfig_->PSMInputType(), appID_,
                                    configuration()->PSMGroupIDHashPrefixBitLengthEmail()});
}

void APMMeasurement::cachePSMInputsFromClient(const std::shared_ptr<APMPSMClient>& client) {
    if (!client) return;
    persistedConfig_->setPSMHashedInputData(client->hashedInput());
    persistedConfig_->setPSMInputType(client->inputType());
    persistedConfig_->setPSMCurrentDay(std::nullopt);
}

void APMMeasurement::clearCachedPSMInputs() {
    persistedConfig_->setPSMHashedInputData(std::nullopt);
    persistedConfig_->setPSMInputType(0);
    persistedConfig_->setPSMCurrentDay(std::nullopt);
}

// MARK: - Start

void APMMeasurement::checkPSMDependencyOnWorkerQueue() {
    const auto& log = monitor();
    if (PSMClientClass()) {
        if (!ODM1Context_) ODM1Context_ = std::make_shared<APMPSMContext>();
        log->log(7, 23253, "On-device conversion measurement is ready to initiate");
        return;
    }
    const auto database = this->database();
    if (!database) return;
    if (database->userAttributeWithName("_psmcount").value || database->userAttributeWithName("_psmcountph").value) {
        log->log(4, 23254,
                 "On-device conversion measurement dependency is not currently linked. On-device conversion "
                 "measurement will fail to initiate.");
    }
}

// MARK: - Gates

bool APMMeasurement::shouldAllowODMFeature() {
    return !APMConsentSettingsUtil::isAdStorageDenied() && configuration()->adsOnDeviceConversionFeatureEnabled();
}

bool APMMeasurement::ODM1ValueExists() {
    const auto database = this->database();
    if (!database) return false;
    return database->ODMValueWithName(kODM1Value).value || database->userAttributeWithName(kPSMValue).value;
}

bool APMMeasurement::PSMCommonGates(bool checkRetryLimit) {
    const auto& log = monitor();
    const auto config = configuration();
    lastPSMGateVerdict_ = false;
    if (!PSMClientClass()) {
        log->log(1, 23233,
                 "Failed to initiate on-device conversion measurement. On-device conversion measurement dependency "
                 "not linked in.");
        return false;
    }
    if (APMConsentSettingsUtil::isAdStorageDenied()) {
        log->log(1, 23298, "Failed to initiate on-device conversion measurement. Ad storage consent is denied.");
        return false;
    }
    if (!config->adsOnDeviceConversionFeatureEnabled()) {
        log->log(1, 23299,
                 "Failed to initiate on-device conversion measurement. Ads account not linked to Vovara Zovuzuzez.");
        return false;
    }
    const double firstOpen = firstLaunchDate().value_or(0);
    const double since = firstOpen != 0 ? firstOpen : initTimestamp();
    if (std::fabs(now() - since) > static_cast<double>(config->maxSignInDelayInDays()) * 86400.0) {
        log->log(1, 23261,
                 "Failed to initiate on-device conversion measurement. Attempted to initiate outside the first open "
                 "window.");
        return false;
    }
    const auto context = ODM1Context_;
    if (context && context->isPSMRequestInProgress) {
        log->log(1, 23235,
                 "Failed to initiate on-device conversion measurement. Request to query data set for on-device "
                 "conversion measurement already in progress.");
        return false;
    }
    if ((context ? context->PSMStartCount : 0) >= config->maxPSMStartCount()) {
        log->log(1, 23236, "Failed to initiate on-device conversion measurement. Exceeded limit per app run.");
        return false;
    }
    if (ODM1ValueExists()) {
        log->log(1, 23237, "Failed to initiate on-device conversion measurement. Found existing match.");
        return false;
    }
    lastPSMGateVerdict_ = true;
    if (checkRetryLimit && (context ? context->PSMRetryCount : 0) >= config->maxPSMRetryCount()) {
        log->log(1, 23238, "Failed to initiate on-device conversion measurement. Exceeded retry limit.");
        return false;
    }
    return true;
}

bool APMMeasurement::shouldRetrievePSMResponse() { return PSMCommonGates(true); }

bool APMMeasurement::shouldRetrievePSMResponseWithEmailAddress(const std::string& emailAddress) {
    if (emailAddress.empty()) {
        monitor()->log(1, 23234, "Failed to initiate on-device conversion measurement. Email address was empty.");
        return false;
    }
    return shouldRetrievePSMResponse();
}

bool APMMeasurement::shouldRetrievePSMResponseWithPhoneNumber(const std::string& phoneNumber) {
    if (phoneNumber.empty()) {
        monitor()->log(1, 23239, "Failed to initiate on-device conversion measurement. Phone number was empty.");
        return false;
    }
    const auto clientClass = PSMClientClass();
    if (!clientClass || !clientClass->instancesRespondTo(APMPSMClientInitializer::phoneNumber)) {
        monitor()->log(1, 23262,
                       "Failed to initiate on-device conversion measurement. Linked on-device conversion measurement "
                       "dependency does not support phone numbers.");
        return false;
    }
    return shouldRetrievePSMResponse();
}

bool APMMeasurement::shouldRetrievePSMResponseWithHashedIdentifier(const std::vector<std::uint8_t>& digest) {
    if (digest.empty()) {
        monitor()->log(1, 23264, "Failed to initiate on-device conversion measurement. Hashed identifier was empty.");
        return false;
    }
    const auto clientClass = PSMClientClass();
    if (!clientClass || (!clientClass->instancesRespondTo(APMPSMClientInitializer::hashedEmailAddress) &&
                         !clientClass->instancesRespondTo(APMPSMClientInitializer::hashedPhoneNumber))) {
        monitor()->log(1, 23265,
                       "Failed to initiate on-device conversion measurement. Linked on-device conversion measurement "
                       "dependency does not support hashed identifiers.");
        return false;
    }
    return shouldRetrievePSMResponse();
}

// MARK: - First-open and re-engagement queries

void APMMeasurement::initiateODM1ProtocolWithUserData(const APMUserData& userData) {
    const auto context = ODM1Context_;
    lastPSMGateVerdict_.reset();
    bool placedByThisCall = false;
    // One input's client goes into the context when the input's gates pass.
    const auto tryInput = [&](const std::shared_ptr<APMPSMClient>& client, bool passed, bool isEmail) {
        if (passed) {
            if (context && client) {
                context->PSMClient = client;
                placedByThisCall = true;
            }
        } else if (isEmail && ODM1ValueExists()) {
            initiateODMGroupIDProtocol();
        }
    };
    const auto cache = [&](bool isEmpty, const std::shared_ptr<APMPSMClient>& client) {
        if (isEmpty) {
            clearCachedPSMInputs();
        } else {
            cachePSMInputsFromClient(client);
        }
    };
    if (userData.emailAddress) {
        const std::string& input = *userData.emailAddress;
        auto client = PSMClientWithEmailAddress(input);
        cache(input.empty(), client);
        tryInput(client, shouldRetrievePSMResponseWithEmailAddress(input), true);
    }
    if (userData.phoneNumber && !placedByThisCall) {
        const std::string& input = *userData.phoneNumber;
        auto client = PSMClientWithPhoneNumber(input);
        cache(input.empty(), client);
        tryInput(client, shouldRetrievePSMResponseWithPhoneNumber(input), false);
    }
    if (userData.hashedEmailAddress && !placedByThisCall) {
        const auto& input = *userData.hashedEmailAddress;
        auto client = PSMClientWithHashedEmailAddress(input);
        cache(input.empty(), client);
        tryInput(client, shouldRetrievePSMResponseWithHashedIdentifier(input), true);
    }
    if (userData.hashedPhoneNumber && !placedByThisCall) {
        const auto& input = *userData.hashedPhoneNumber;
        auto client = PSMClientWithHashedPhoneNumber(input);
        cache(input.empty(), client);
        tryInput(client, shouldRetrievePSMResponseWithHashedIdentifier(input), false);
    }
    if (!context || !context->PSMClient) return;
    if (!placedByThisCall) {
        // A kept client goes out again only past this call's own gates,
        // the retry limit aside (a new initiation restarts the count).
        const bool allowed = lastPSMGateVerdict_ ? *lastPSMGateVerdict_ : (PSMCommonGates(false), *lastPSMGateVerdict_);
        if (!allowed) return;
    }
    monitor()->log(7, 23225, "Initiated on-device conversion measurement");
    context->PSMRetryCount = 0;
    context->PSMStartCount += 1;
    context->sessionStartTimestamp = 0;
    retrievePSMResponse(context);
}

void APMMeasurement::initiateODMSessionStartProtocolWithTimestamp(double timestamp) {
    const auto& log = monitor();
    if (!shouldAllowODMFeature()) {
        log->log(2, 23335,
                 "Failed to initiate on-device conversion measurement for re-engagement campaign. Feature is "
                 "disabled.");
        incrementOnWorkerQueueDiagnosticsSignal(kSessionSignal, "disabled");
        return;
    }
    const auto clientClass = PSMClientClass();
    if (!clientClass || !clientClass->instancesRespondTo(APMPSMClientInitializer::hashedInput)) {
        log->log(1, 23283,
                 "Failed to initiate on-device conversion measurement for re-engagement campaign. Linked on-device "
                 "conversion measurement dependency does not support re-engagement campaigns.");
        incrementOnWorkerQueueDiagnosticsSignal(kSessionSignal, "unsupported");
        return;
    }
    const auto cached = persistedConfig_->PSMHashedInputData();
    if (!cached || cached->empty() || persistedConfig_->PSMInputType() == 0) {
        log->log(4, 23284,
                 "Failed to initiate on-device conversion measurement for re-engagement campaign. Cached first party "
                 "data not found.");
        incrementOnWorkerQueueDiagnosticsSignal(kSessionSignal, "no_cache");
        return;
    }
    if (!ODM1Context_) ODM1Context_ = std::make_shared<APMPSMContext>();
    const auto context = ODM1Context_;
    context->PSMClient = PSMClientWithCachedInputs();
    if (!context->PSMClient) {
        log->log(2, 23336,
                 "Failed to initiate on-device conversion measurement for re-engagement campaign. ODC client is nil.");
        incrementOnWorkerQueueDiagnosticsSignal(kSessionSignal, "no_client");
        return;
    }
    log->log(7, 23285, "Initiated on-device conversion measurement for re-engagement campaign");
    context->PSMRetryCount = 0;
    context->PSMStartCount += 1;
    context->sessionStartTimestamp = timestamp;
    retrievePSMResponse(context);
}

// MARK: - Request, answer, retry

std::optional<std::string> APMMeasurement::PSMRequestURL() {
    const auto context = ODM1Context_;
    const auto client = context ? context->PSMClient : nullptr;
    if (!client) return std::nullopt;
    std::optional<std::string> URL = client->PSMRequestURLWithRetryCount(context->PSMRetryCount);
    if (!URL || URL->empty()) return std::nullopt;
    const auto database = this->database();
    const auto integerProperty = [&](const std::string& name) -> std::optional<std::int64_t> {
        if (!database) return std::nullopt;
        auto attribute = database->userAttributeWithName(name);
        if (!attribute.value) return std::nullopt;
        return attribute.value->value().int64Value();
    };
    const InputKind kind = inputKind(client->inputType());
    appendQueryItem(*URL, kind.queryKey, std::to_string(integerProperty(kind.counter).value_or(0)));
    if (const auto identity = this->identity(); identity && identity->appVersion()) {
        appendQueryItem(*URL, "app_version", *identity->appVersion());
    }
    const double firstOpen = firstLaunchDate().value_or(0);
    if (firstOpen > 0 && !(context->sessionStartTimestamp > 0)) {
        appendQueryItem(*URL, "timestamp_first_open", std::to_string(nextMinuteBoundary(firstOpen)));
    }
    const auto& log = monitor();
    if ((log->isDebugModeEnabled() || log->isVerboseLoggingEnabled()) && !APMAEU::isFAS()) {
        if (const auto debugKey = client->debugKey()) {
            const auto arguments = onDeviceEnvironment().launchArguments();
            if (std::find(arguments.begin(), arguments.end(), "-DebugOnDeviceConversionMeasurement") !=
                arguments.end()) {
                appendQueryItem(*URL, "debug_psm_key", *debugKey);
            }
        }
    }
    if (context->sessionStartTimestamp > 0) {
        if (const auto sessionID = integerProperty("_sid")) {
            appendQueryItem(*URL, "tss", std::to_string(nextMinuteBoundary(static_cast<double>(*sessionID))));
        }
    }
    return URL;
}

void APMMeasurement::retrievePSMResponse(const std::shared_ptr<APMPSMContext>& context) {
    if (!context || !context->PSMClient) return;
    const auto& log = monitor();
    const auto client = context->PSMClient;
    const bool isSession = context->sessionStartTimestamp > 0;
    const auto signal = [&](const char* metadata) {
        if (isSession) incrementOnWorkerQueueDiagnosticsSignal(kSessionSignal, metadata);
    };
    const VULData payload = client->payloadWithPSMRequest();
    if (payload.empty()) {
        log->log(1, 23293, "Payload to query data set for on-device conversion measurement is invalid");
        signal("no_payload");
        return;
    }
    // The URL is built for the context being sent.
    const auto previous = ODM1Context_;
    ODM1Context_ = context;
    const std::optional<std::string> URL = PSMRequestURL();
    ODM1Context_ = previous;
    if (!URL) {
        log->log(1, 23227, "URL to query data set for on-device conversion measurement is invalid");
        signal("no_url");
        return;
    }
    if (!context->network) context->network = onDeviceEnvironment().makeNetwork();
    if (context->network->hasUploadInProgress()) {
        log->log(7, 23232,
                 "Network operation is pending. Request to query data set for on-device conversion measurement "
                 "postponed.");
        context->isPSMRequestPostponed = true;
        signal("postpone");
        return;
    }
    if (context->PSMRetryAlarm) context->PSMRetryAlarm->cancel();
    context->isPSMRequestPostponed = false;
    context->isPSMRequestInProgress = true;
    setIsNetworkRequestPending(true);
    context->network->setTimeoutInterval(configuration()->networkTimeout());
    const std::string counter = inputKind(client->inputType()).counter;
    context->network->postURL(
        *URL, payload, scheduler_->workerQueue(), shouldUseBackgroundSession(),
        // The context is held weakly: its network holds this completion, and a
        // context that a reset replaced and dropped has nothing left to update.
        [weak = weak_from_this(), weakContext = std::weak_ptr<APMPSMContext>(context), counter, isSession](
            const std::optional<VULHTTPResponse>& response, const std::optional<VULData>& body,
            const std::optional<VULError>& error) {
            auto self = weak.lock();
            if (!self) return;
            const auto& log = monitor();
            self->setIsNetworkRequestPending(false);
            const auto context = weakContext.lock();
            if (!context) return;
            if (context == self->ODM1Context_) self->incrementPSMCountOnWorkerQueueWithName(counter);
            const long status = response ? response->statusCode : 0;
            if (!error && (status == 200 || status == 204 || status == 304)) {
                if (isSession) self->incrementOnWorkerQueueDiagnosticsSignal(kSessionSignal, "success");
                const std::string value =
                    context->PSMClient ? context->PSMClient->parsedPSMValueFromResponse(body.value_or(VULData{}))
                                       : std::string();
                if (!value.empty()) {
                    log->log(7, 23229, "On-device conversion measurement found a match");
                    self->handlePSMValueOnWorkerQueue(value, isSession);
                } else {
                    log->log(7, 23230,
                             "On-device conversion measurement did not find a match. Will try again given new user "
                             "data.");
                }
                context->isPSMRequestInProgress = false;
                context->PSMClient = nullptr;
                self->updateSchedule();
                if (self->configuration()->PSMGroupIDEnabled()) self->initiateODMGroupIDProtocol();
                return;
            }
            log->log(1, 23228,
                     "Failed to query data set for on-device conversion measurement. Will retry later. Code, error",
                     status, error ? error->description() : std::string("(null)"));
            context->isPSMRequestInProgress = false;
            if (isSession) self->incrementOnWorkerQueueDiagnosticsSignal(kSessionSignal, "fail");
            self->maybeSchedulePSMRetry(context);
            self->updateSchedule();
        });
}

void APMMeasurement::maybeSchedulePSMRetry(const std::shared_ptr<APMPSMContext>& context) {
    if (!context) return;
    const std::int32_t attempts = context->PSMRetryCount;
    context->PSMRetryCount = attempts + 1;
    if (context->PSMRetryCount >= configuration()->maxPSMRetryCount()) {
        monitor()->log(4, 23231, "On-device conversion measurement failed to find a match. Reached retry limit.");
        return;
    }
    if (!context->PSMRetryAlarm) {
        context->PSMRetryAlarm =
            std::make_shared<APMAlarm>(dispatcher_, scheduler_->workerQueue(), "On-device conversion measurement timer");
    }
    const double delay = configuration()->PSMRetryInterval() * std::ldexp(1.0, attempts);
    context->PSMRetryAlarm->runAfterDelay(
        delay, [weak = weak_from_this(), weakContext = std::weak_ptr<APMPSMContext>(context)] {
            auto self = weak.lock();
            auto context = weakContext.lock();
            if (self && context) self->retrievePSMResponse(context);
        });
}

bool APMMeasurement::sendPostponedPSMRequest() {
    const auto context = ODM1Context_;
    if (!context || !context->isPSMRequestPostponed) return false;
    context->isPSMRequestPostponed = false;
    retrievePSMResponse(context);
    return true;
}

void APMMeasurement::handlePSMValueOnWorkerQueue(const std::string& value, bool isSessionValue) {
    const auto database = this->database();
    if (value.empty() || !database) return;
    const double now = this->now();
    APMError error;
    if (isSessionValue) {
        const auto stored = database->ODMValueWithName(kODM1SessionValue);
        if (stored.value && stored.value->value == value) return;
        if (!database->updateODMValue(value, kODM1SessionValue, now, &error)) {
            monitor()->log(1, 23297, "Failed to update ODM session value. Error", error);
        }
        return;
    }
    if (!database->updateODMValue(value, kODM1Value, now, &error)) {
        monitor()->log(1, 23286, "Failed to update ODM value. Error", error);
    }
    setUserAttributeOnWorkerQueue(APMUserAttribute("auto", kPSMValue, APMValue(value), now));
    writeFirstOpenSourceEvent("psm", now);
}

void APMMeasurement::incrementPSMCountOnWorkerQueueWithName(const std::string& name) {
    const auto database = this->database();
    if (!database) return;
    auto attribute = database->userAttributeWithName(name);
    const std::int64_t count = (attribute.value ? attribute.value->value().int64Value() : 0) + 1;
    setUserAttributeOnWorkerQueue(APMUserAttribute("auto", name, APMValue(count), now()));
}

// MARK: - Group-ID query

void APMMeasurement::initiateODMGroupIDProtocol() {
    const auto& log = monitor();
    if (APMConsentSettingsUtil::isAdStorageDenied()) {
        log->log(4, 23307,
                 "Failed to initiate on-device conversion measurement for retrieving aggregate first-party data. Ad "
                 "storage consent is denied.");
        return;
    }
    if (!configuration()->adsOnDeviceConversionFeatureEnabled()) {
        log->log(4, 23308,
                 "Failed to initiate on-device conversion measurement for retrieving aggregate first-party data. Ads "
                 "account not linked to Vovara Zovuzuzez.");
        return;
    }
    const auto clientClass = PSMGroupClientClass();
    if (!clientClass || !clientClass->respondsToInitWithHashedInput()) {
        log->log(1, 23309,
                 "Failed to initiate on-device conversion measurement for retrieving aggregate first-party data. "
                 "Linked on-device conversion measurement dependency does not support this feature.");
        return;
    }
    const auto cached = persistedConfig_->PSMHashedInputData();
    const std::int64_t type = persistedConfig_->PSMInputType();
    if (!cached || cached->empty() || type == 0) {
        log->log(5, 23310,
                 "Failed to initiate on-device conversion measurement for retrieving aggregate first-party data. "
                 "Cached first-party data not found.");
        return;
    }
    if (type == 2 || type == 4) {
        log->log(5, 23311,
                 "Failed to initiate on-device conversion measurement for retrieving aggregate first-party data. "
                 "Phone numbers not supported.");
        return;
    }
    if (persistedConfig_->PSMCurrentDay() == std::optional<std::int64_t>(currentDayNumber())) {
        log->log(5, 23312,
                 "Failed to initiate on-device conversion measurement for retrieving aggregate first-party data. "
                 "Reached daily cap.");
        return;
    }
    persistedConfig_->setPSMCurrentDay(std::nullopt);
    if (!ODM1GroupContext_) ODM1GroupContext_ = std::make_shared<APMGroupContext>();
    const auto context = ODM1GroupContext_;
    if (!context->network) context->network = onDeviceEnvironment().makeNetwork();
    const auto client = PSMGroupClientWithCachedInputs();
    context->ODCGroupClient = client;
    if (!client) return;
    context->isPSMRequestInProgress = true;
    const APMPSMGroupClient* asked = client.get();
    client->fetchGroupIDWithNetwork(
        context->network, [weak = weak_from_this(), weakContext = std::weak_ptr<APMGroupContext>(context), asked](
                              std::optional<std::string> groupID, std::optional<APMError> error) {
            // The client answers on any thread: everything happens on the worker queue.
            auto self = weak.lock();
            if (!self) return;
            self->scheduleWeakly("APMMeasurement:612", [weakContext, asked, groupID, error](APMMeasurement& engine) {
                const auto context = weakContext.lock();
                if (!context) return;
                const auto& log = monitor();
                context->isPSMRequestInProgress = false;
                if (error) {
                    log->log(1, 23313,
                             "Failed to query aggregate first-party data set for on-device conversion measurement. "
                             "Will retry later. Error",
                             *error);
                    return;
                }
                engine.persistedConfig_->setPSMCurrentDay(engine.currentDayNumber());
                if (context->ODCGroupClient.get() == asked) context->ODCGroupClient = nullptr;
                if (!groupID || groupID->empty()) {
                    log->log(7, 23314,
                             "On-device conversion measurement for aggregate first-party data did not find a match");
                    return;
                }
                log->log(7, 23315, "On-device conversion measurement for aggregate first-party data found a match");
                engine.handleODMGroupIDOnWorkerQueue(*groupID);
            });
        });
}

void APMMeasurement::handleODMGroupIDOnWorkerQueue(const std::string& groupID) {
    const auto database = this->database();
    if (!database) return;
    const auto stored = database->ODMValueWithName(kODM1GroupID);
    if (stored.value && stored.value->value == groupID) return;
    APMError error;
    if (!database->updateODMValue(groupID, kODM1GroupID, now(), &error)) {
        monitor()->log(2, 23300, "Failed to update ODM group ID. Error", error);
    }
}

// MARK: - Expiry

bool APMMeasurement::isExpiredODMValueWithName(const std::string& name) {
    const auto database = this->database();
    if (!database) return false;
    const auto row = database->ODMValueWithName(name);
    return row.value && std::fabs(now() - row.value->setTimestamp) >= kODMValueLifetimeSeconds;
}

void APMMeasurement::maybeDeleteExpiredPSMValueOnWorkerQueue() {
    const auto database = this->database();
    if (!database) return;
    struct Row {
        const char* name;
        long code;
        const char* message;
    };
    static constexpr Row kRows[] = {{kODM1Value, 23289, "Failed to delete ODM value. Error"},
                                    {kODM1SessionValue, 23296, "Failed to delete ODM session value. Error"},
                                    {kODM1GroupID, 23301, "Failed to delete ODM group ID. Error"}};
    for (const Row& row : kRows) {
        if (!isExpiredODMValueWithName(row.name)) continue;
        APMError error;
        if (!database->deleteODMValueWithName(row.name, &error)) monitor()->log(4, row.code, row.message, error);
    }
    auto value = database->userAttributeWithName(kPSMValue);
    if (!value.value) return;
    if (std::fabs(now() - value.value->lastSetTimestamp()) >= kODMValueLifetimeSeconds) {
        removeUserAttributeOnWorkerQueue(*value.value);
        for (const char* counter : kPSMCounters) {
            if (auto attribute = database->userAttributeWithName(counter); attribute.value) {
                removeUserAttributeOnWorkerQueue(*attribute.value);
            }
        }
        return;
    }
    if (database->ODMValueWithName(kODM1Value).value) return;
    const APMValue& stored = value.value->value();
    APMError ignored;
    (void)database->updateODMValue(stored.stringValue() ? *stored.stringValue() : stored.description(), kODM1Value,
                                   value.value->lastSetTimestamp(), &ignored);
}
