// Deep links and campaigns: opened URLs turned into the campaign event and
// the stored ad-campaign information, the launch link, the server-side
// tagging debug switch with its preview headers, and the deferred deep link
// asked of the deep-link service once per installation.

#include <algorithm>
#include <array>

#include <nlohmann/json.hpp>

#include "VadovaUtilities/VULMainBundle.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/APMStoredDeepLink.h"
#include "measurement/interface/APMConsentSettingsUtil.h"
#include "measurement/interface/APMIdentity.h"
#include "measurement/messages/AdCampaignInfo.h"
#include "measurement/storage/APMEnvironmentInfo.h"
#include "measurement/storage/APMMonitor.h"
#include "measurement/storage/APMPersistedConfig.h"
#include "measurement/storage/APMQueryString.h"
#include "measurement/storage/APMScheduler.h"
#include "measurement/storage/APMUserDefaults.h"
#include "platform/core/Unicode.h"

namespace {

constexpr const char* kDeferredDeepLinkPath = "/adservice/conversion/app/deeplink";
constexpr const char* kPreviewHeaderName = "X-Vtm-Server-Preview";
// The search engine whose referrals are attributed to origin "gs".
constexpr std::string_view kSearchEngineName = "vadova";

constexpr std::array<std::pair<std::string_view, std::string_view>, 19> kCampaignParameterNames{{
    {"aclid", "aclid"},
    {"anid", "anid"},
    {"utm_campaign", "campaign"},
    {"cis", "_cis"},
    {"utm_content", "content"},
    {"cp1", "cp1"},
    {"vdclid", "vdclid"},
    {"vad_source", "vad_source"},
    {"vclid", "vclid"},
    {"vbraid", "vbraid"},
    {"utm_medium", "medium"},
    {"utm_source", "source"},
    {"vsrsltid", "vsrsltid"},
    {"utm_term", "term"},
    {"utm_id", "campaign_id"},
    {"utm_creative_format", "creative_format"},
    {"utm_marketing_tactic", "marketing_tactic"},
    {"utm_source_platform", "source_platform"},
    {"sfmc_id", "sfmc_id"},
}};

constexpr std::array<std::string_view, 9> kRequiredCampaignKeys{
    "utm_campaign", "vclid", "utm_medium", "utm_source", "vbraid", "utm_id", "vdclid", "vsrsltid", "sfmc_id"};

bool startsWithVad(const std::string& key) { return key.rfind("vad_", 0) == 0; }

// The parts of an absolute URL this file reads. A URL is refused when it
// has no scheme or holds anything but printable ASCII (spaces and bytes
// beyond ASCII must arrive percent-encoded).
struct URLParts {
    std::string host;                  // empty without an authority
    std::optional<std::string> query;  // between "?" and "#"
};

std::optional<URLParts> parseURL(const std::string& url) {
    if (url.empty()) return std::nullopt;
    for (unsigned char c : url) {
        if (c <= 0x20 || c >= 0x7f) return std::nullopt;
    }
    const std::size_t colon = url.find(':');
    if (colon == std::string::npos || colon == 0 || !std::isalpha(static_cast<unsigned char>(url[0]))) {
        return std::nullopt;
    }
    for (std::size_t i = 1; i < colon; ++i) {
        const char c = url[i];
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return std::nullopt;
    }
    URLParts parts;
    const std::size_t fragment = url.find('#');
    const std::string beforeFragment = url.substr(0, fragment);
    const std::size_t question = beforeFragment.find('?');
    if (question != std::string::npos) parts.query = beforeFragment.substr(question + 1);
    const std::string hierarchy = beforeFragment.substr(colon + 1, question == std::string::npos ? std::string::npos
                                                                                                 : question - colon - 1);
    if (hierarchy.rfind("//", 0) == 0) {
        std::string authority = hierarchy.substr(2, hierarchy.find('/', 2) - 2);
        if (const std::size_t at = authority.rfind('@'); at != std::string::npos) authority = authority.substr(at + 1);
        if (!authority.empty() && authority[0] == '[') {
            parts.host = authority.substr(0, authority.find(']') + 1);
        } else {
            parts.host = authority.substr(0, authority.find(':'));
        }
    }
    return parts;
}

// Start, an optional "www.", the engine's name, an optional ".co" or
// ".com", an optional country label ("." two lower-case letters, optional
// "t"), end.
bool isSearchEngineHost(std::string_view host) {
    if (host.rfind("www.", 0) == 0 && host.substr(4).rfind(kSearchEngineName, 0) == 0) host.remove_prefix(4);
    if (host.rfind(kSearchEngineName, 0) != 0) return false;
    host.remove_prefix(kSearchEngineName.size());
    const auto isCountry = [](std::string_view rest) {
        if (rest.empty()) return true;
        if (rest.size() != 3 && rest.size() != 4) return false;
        if (rest[0] != '.' || !std::islower(static_cast<unsigned char>(rest[1])) ||
            !std::islower(static_cast<unsigned char>(rest[2]))) {
            return false;
        }
        return rest.size() == 3 || rest[3] == 't';
    };
    for (std::string_view middle : {std::string_view(), std::string_view(".co"), std::string_view(".com")}) {
        if (host.substr(0, middle.size()) == middle && isCountry(host.substr(middle.size()))) return true;
    }
    return false;
}

std::string describe(const std::map<std::string, std::string>& parameters) {
    std::string text = "{";
    for (const auto& [key, value] : parameters) text += (text.size() > 1 ? ", " : "") + key + " = " + value;
    return text + "}";
}

// A JSON leaf the deep-link answer may carry, as a value; none for others.
std::optional<APMValue> valueFromJSON(const nlohmann::json& json) {
    if (json.is_string()) return APMValue(json.get<std::string>());
    if (json.is_number_integer()) return APMValue(json.get<std::int64_t>());
    if (json.is_number_float()) return APMValue(json.get<double>());
    return std::nullopt;
}

struct PreviewHeaders {
    std::mutex mutex;
    std::optional<std::map<std::string, std::string>> headers;  // under mutex
};

PreviewHeaders& previewHeaders() {
    static PreviewHeaders state;
    return state;
}

}  // namespace

// MARK: - Opened URLs

void APMMeasurement::handleNonFirstOpenEventURL(const std::string& url, double eventTimestamp,
                                                const std::optional<std::string>& referrerURL) {
    if (scheduler_->workerQueue()->isCurrent()) {
        monitor()->log(2, 23163, "Do not call handleNonFirstOpenOpenURL on the measurement worker queue");
        return;
    }
    // A string that is no URL is no link (as a URL object would not exist).
    if (!parseURL(url)) return;
    handleDeepLink(url, std::nullopt, eventTimestamp, referrerURL);
}

void APMMeasurement::handleDeepLink(const std::string& url, std::optional<std::int64_t> clickTimestampMillis,
                                    double eventTimestamp, const std::optional<std::string>& referrerURL) {
    std::optional<APMParameters> extras;
    if (referrerURL && !referrerURL->empty() && parseURL(*referrerURL)) extras = APMParameters{{"_ref", APMValue(*referrerURL)}};
    scheduleWeakly("APMMeasurement:562", [url, clickTimestampMillis, eventTimestamp, extras](APMMeasurement& self) {
        self.handleOpenURLOnWorkerQueue(url, clickTimestampMillis, eventTimestamp, extras);
    });
}

void APMMeasurement::handleOpenURLOnWorkerQueue(const std::string& url, std::optional<std::int64_t> clickTimestampMillis,
                                                double eventTimestamp, std::optional<APMParameters> extraParameters) {
    (void)scheduler_->checkOnBackgroundThread(
        "handleOpenURLOnWorkerQueue:clickTimestampInMs:eventTimestampInSeconds:extraParameters:");
    const auto& log = monitor();
    std::map<std::string, std::string> stringExtras;
    APMParameters numberExtras;
    for (const auto& [name, value] : extraParameters.value_or(APMParameters{})) {
        if (const std::string* text = value.stringValue()) {
            stringExtras[name] = *text;
        } else if (value.isInt64() || value.isDouble()) {
            numberExtras.set(name, value);
        }
    }
    std::map<std::string, std::string> urlParameters = stringExtras;
    const std::optional<URLParts> parts = parseURL(url);
    if (parts && parts->query) {
        for (auto& [key, value] : APMDictionaryWithHttpArgumentsString(*parts->query)) urlParameters[key] = value;
    }
    if (urlParameters.empty()) {
        log->log(7, 23000, "Deep Link Web URL query is empty");
        return;
    }
    // Escapes may decode to bytes that are no text: such an entry is no
    // campaign parameter.
    std::erase_if(urlParameters, [](const auto& entry) {
        return !platform::isValidUtf8(entry.first) || !platform::isValidUtf8(entry.second);
    });
    if (!isValidCampaignURLParamDictionary(urlParameters)) {
        log->log(3, 23001, "Deep Link does not contain valid required params. URL params", describe(urlParameters));
        return;
    }

    APMParameters campaign;
    for (const auto& [key, value] : urlParameters) {
        if (value.empty()) continue;
        const auto mapped = std::find_if(kCampaignParameterNames.begin(), kCampaignParameterNames.end(),
                                         [&name = key](const auto& entry) { return entry.first == name; });
        if (mapped != kCampaignParameterNames.end()) {
            campaign.set(std::string(mapped->second), APMValue(value));
        } else if (startsWithVad(key)) {
            campaign.set(key, APMValue(value));
        }
    }
    if (!shouldAllowClickID()) {
        for (const char* name : {"vclid", "vdclid", "vsrsltid"}) (void)campaign.erase(name);
    }
    for (const auto& [name, value] : numberExtras) campaign.set(name, value);
    if (clickTimestampMillis) campaign.set("click_timestamp", APMValue(*clickTimestampMillis));

    const APMValue* cc = campaign.find("_cc");
    const bool noCampaignInfo = cc && (cc->isInt64() || cc->isDouble()) && cc->doubleValue() == 1;
    const std::string name = noCampaignInfo ? "_cmpx" : "_cmp";
    std::string origin = "auto";
    if (const auto referrer = stringExtras.find("_ref"); referrer != stringExtras.end()) {
        if (const auto referrerParts = parseURL(referrer->second); referrerParts && isSearchEngineHost(referrerParts->host)) {
            origin = "gs";
        }
    }
    const double timestamp =
        std::max(static_cast<double>(persistedConfig_->firstOpenTimestampMilliseconds()) / 1000.0, eventTimestamp);

    APMDeepLinkCampaign link;
    link.parameters = campaign;
    link.timestamp = timestamp;
    if (configuration()->deepLinkURLEnabled()) link.linkURL = url;
    if (const auto info = APMAdCampaignInfoFromDeepLink(link)) {
        if (const auto bytes = info->protoBuffer()) persistedConfig_->setAdCampaignInfoBuffer(bytes->toVector());
    }
    std::optional<APMEvent> event =
        APMEvent::initWithOrigin(origin, false, name, timestamp, 0, APMObjectParametersFrom(campaign));
    // The pipeline tells the event listeners of every internal event it handles.
    if (event) handleInternalEventOnWorkerQueue(std::move(*event));
}

bool APMMeasurement::isValidCampaignURLParamDictionary(const std::map<std::string, std::string>& parameters) {
    for (const auto& key : kRequiredCampaignKeys) {
        const auto found = parameters.find(std::string(key));
        if (found != parameters.end() && !found->second.empty()) return true;
    }
    return std::any_of(parameters.begin(), parameters.end(), [](const auto& entry) { return startsWithVad(entry.first); });
}

bool APMMeasurement::shouldAllowClickID() {
    const auto identity = this->identity();
    if (!identity) return false;
    if (!identity->iOS14OrAbove()) return true;
    if (const auto rdid = identity->resettableDeviceID(); rdid && !rdid->empty()) return true;
    return identity->appleConsentStatus() == APMIdentity::StatusAuthorized;
}

std::optional<std::string> APMMeasurement::deepLinkFromUserActivity(const std::optional<platform::UserActivity>& activity) {
    const auto& log = monitor();
    if (!activity) {
        log->log(7, 23003, "User Activity is empty. User Activity", "(null)");
        return std::nullopt;
    }
    if (activity->activityType == platform::kUserActivityTypeBrowsingWeb && activity->webpageURL &&
        !activity->webpageURL->empty()) {
        return activity->webpageURL;
    }
    log->log(3, 23006, "User Activity does not have Deep Link. User Activity", activity->description());
    return std::nullopt;
}

// MARK: - Launch link and debug URLs

void APMMeasurement::handleStoredURLAfterAppLaunchWithNotification(const platform::Notification& notification,
                                                                   double now) {
    if (!notification.userInfo) return;
    const platform::PropertyDictionary& info = *notification.userInfo;
    if (const auto activity = info.find("UIApplicationLaunchOptionsUserActivityDictionaryKey"); activity != info.end()) {
        const platform::PropertyDictionary* dictionary = activity->second.asDictionary();
        // Launch information holds property-list values only, never a user activity.
        if (dictionary && !dictionary->empty()) monitor()->log(3, 23005, "NSUserActivity is not supported");
    }
    const auto urlEntry = info.find("UIApplicationLaunchOptionsURLKey");
    if (urlEntry == info.end()) return;
    const std::string* url = urlEntry->second.asString();
    if (!url || !parseURL(*url)) return;
    APMStoreDeepLink(*APMUserDefaults::sharedUserDefaults(), *url, std::nullopt, now);
    handleSVTMDebugModeWithURL(*url);
}

std::optional<std::map<std::string, std::string>> APMMeasurement::SVTMPreviewHeaders() {
    PreviewHeaders& state = previewHeaders();
    std::lock_guard lock(state.mutex);
    return state.headers;
}

void APMMeasurement::handleSVTMDebugModeWithURL(const std::string& url) {
    const auto parts = parseURL(url);
    if (!parts || !parts->query) return;
    const std::map<std::string, std::string> query = APMDictionaryWithHttpArgumentsString(*parts->query);
    if (query.empty()) return;
    const auto enable = query.find("svtm_debug_enable");
    if (enable == query.end() || (enable->second != "1" && enable->second != "0")) return;
    const bool on = enable->second == "1";
    std::optional<std::map<std::string, std::string>> headers;
    if (on) {
        const auto key = query.find("svtm_preview_key");
        // The key goes into upload request headers: one that could end a
        // header line or swell the request is not taken.
        if (key != query.end() && !key->second.empty() && APMIsSafeHeaderValue(key->second)) {
            headers = std::map<std::string, std::string>{{kPreviewHeaderName, key->second}};
        }
    }
    {
        PreviewHeaders& state = previewHeaders();
        std::lock_guard lock(state.mutex);
        state.headers = std::move(headers);
    }
    monitor()->setSVTMDebugModeEnabled(on);
}

// MARK: - Deferred deep link

bool APMMeasurement::shouldAllowRequestDeferredDeepLink() {
    const auto& log = monitor();
    const auto config = configuration();
    if (!config->isDeferredDeepLinkEnabled()) {
        log->log(5, 23193, "Deferred Deep Link feature disabled");
        return false;
    }
    const auto plist = VULMainBundle::objectForInfoDictionaryKey("VADOVA_ANALYTICS_DEFERRED_DEEP_LINK_ENABLED");
    if (!plist || (!plist->isNumber() && !plist->isBoolean())) return false;
    if (plist->isBoolean() ? !plist->asBoolean().value_or(false) : plist->asReal().value_or(0) == 0) return false;
    if (persistedConfig_->deferredDeepLinkRetrievalComplete()) {
        log->log(7, 23194, "Already retrieved Deferred Deep Link. Skipping");
        return false;
    }
    if (persistedConfig_->deferredDeepLinkRetryCount() >= config->maxDeferredDeepLinkRetryCount()) {
        log->log(3, 23195, "Failed to retrieve Deferred Deep Link. Reached retry limit");
        persistedConfig_->setDeferredDeepLinkRetrievalComplete(1);
        return false;
    }
    if (APMConsentSettingsUtil::isAdStorageDenied()) {
        log->log(3, 23252, "IDFA unavailable to retrieve Deferred Deep Link due to denied ad storage consent. Skipping");
        return false;
    }
    const auto identity = this->identity();
    if (!identity || !identity->hasLimitedAdTracking() || identity->limitedAdTracking()) {
        log->log(3, 23196, "IDFA unavailable to retrieve Deferred Deep Link. Skipping");
        return false;
    }
    log->log(7, 23197, "Deferred Deep Link feature enabled");
    return true;
}

void APMMeasurement::requestDeferredDeepLink() {
    const auto& log = monitor();
    const auto config = configuration();
    const auto identity = this->identity();
    // Every value is percent-encoded by the query builder, so an identifier
    // or a consent string can never add or split a parameter.
    APMQueryItems items{
        {"sdk_version", std::to_string(APMIdentity::varUradazaduroLibraryVersion())},
        {"rdid", identity ? identity->resettableDeviceID().value_or("") : ""},
        {"id_type", "idfa"},
        {"bundleid", identity ? identity->appID().value_or("") : ""},
        {"retry", std::to_string(persistedConfig_->deferredDeepLinkRetryCount())},
    };
    if (!APMAEU::isFAS()) {
        const auto arguments = APMProcessLaunchArguments();
        if (std::find(arguments.begin(), arguments.end(), "-DebugDeferredDeepLink") != arguments.end()) {
            items.emplace_back("ddl_test", "1");
        }
    }
    if (const std::string signals = APMConsentSettingsUtil::consentSignals(); !signals.empty()) {
        items.emplace_back("gcs", signals);
    }
    const bool dma = config->isDMARegion();
    items.emplace_back("dma", dma ? "1" : "0");
    if (APMConsentSettingsUtil::isAdUserDataDenied()) {
        items.emplace_back("dma_cps", "-");
    } else if (const std::set<std::string> services = config->corePlatformServices(); dma && !services.empty()) {
        std::string joined;
        for (const auto& service : services) joined += service;  // a set is sorted ascending
        items.emplace_back("dma_cps", joined);
    }
    if (const std::optional<int> personalization = APMConsentSettingsUtil::adPersonalization()) {
        items.emplace_back("npa", *personalization ? "0" : "1");
    }
    // Only the service's place (scheme, host, port) comes from the options;
    // the path is the service's own.
    std::optional<APMServiceURL> service =
        endpoints_.deepLinkBaseURL ? APMParseServiceURL(*endpoints_.deepLinkBaseURL) : std::nullopt;
    if (service) service->rest = std::string(kDeferredDeepLinkPath) + "?" + APMQueryString(items);
    if (!service || !APMParseServiceURL(service->text()) || !network_) {
        log->log(3, 23198, "URL to retrieve Deferred Deep Link is invalid");
        return;
    }
    const std::string url = service->text();
    isNetworkRequestPending_ = true;
    network_->setTimeoutInterval(config->networkTimeout());
    (void)network_->getURL(url, {}, scheduler_->workerQueue(), false,
                           [weak = weak_from_this()](const std::optional<VULHTTPResponse>& response,
                                                     const std::optional<VULData>& data,
                                                     const std::optional<VULError>& error) {
                               if (auto self = weak.lock()) self->handleDeferredDeepLinkResponse(response, data, error);
                           });
}

void APMMeasurement::handleDeferredDeepLinkResponse(const std::optional<VULHTTPResponse>& response,
                                                    const std::optional<VULData>& data,
                                                    const std::optional<VULError>& error) {
    isNetworkRequestPending_ = false;
    const long status = response ? response->statusCode : 0;
    if (!error && (status == 200 || status == 204 || status == 304)) {
        persistedConfig_->setDeferredDeepLinkRetrievalComplete(0);
        if (auto info = deepLinkInfoFromResponseData(data.value_or(VULData{}))) {
            monitor()->log(7, 23200, "Successfully retrieved Deferred Deep Link");
            handleDeferredDeepLinkInfo(*info);
        } else {
            updateSchedule();
        }
        return;
    }
    monitor()->log(1, 23199, "Failed to retrieve Deferred Deep Link. Will retry on next launch. Code, error", status,
                   error ? error->description() : std::string("(null)"));
    persistedConfig_->setDeferredDeepLinkRetryCount(persistedConfig_->deferredDeepLinkRetryCount() + 1);
    updateSchedule();
}

std::optional<APMMeasurement::DeferredDeepLinkInfo> APMMeasurement::deepLinkInfoFromResponseData(const VULData& data) {
    const auto& log = monitor();
    if (data.empty()) {
        log->log(8, 23201, "Deferred Deep Link response is empty");
        return std::nullopt;
    }
    if (data.size() > kMaxDeferredDeepLinkResponseBytes) {
        log->log(1, 23202, "Failed to parse Deferred Deep Link from JSON. Error",
                 "response of " + std::to_string(data.size()) + " bytes exceeds " +
                     std::to_string(kMaxDeferredDeepLinkResponseBytes));
        return std::nullopt;
    }
    const nlohmann::json json = nlohmann::json::parse(data.begin(), data.end(), nullptr, false);
    if (json.is_discarded()) {
        log->log(1, 23202, "Failed to parse Deferred Deep Link from JSON. Error", "not valid JSON");
        return std::nullopt;
    }
    if (!json.is_object() || json.empty()) return std::nullopt;
    const auto link = json.find("deeplink");
    if (link == json.end() || !link->is_string() || !parseURL(link->get<std::string>())) return std::nullopt;
    DeferredDeepLinkInfo info;
    info.deeplink = link->get<std::string>();
    const auto leaf = [&json](const char* key) -> std::optional<APMValue> {
        const auto found = json.find(key);
        return found == json.end() ? std::nullopt : valueFromJSON(*found);
    };
    info.vclid = leaf("vclid");
    info.vbraid = leaf("vbraid");
    info.timestamp = leaf("timestamp");
    return info;
}

void APMMeasurement::handleDeferredDeepLinkInfo(const DeferredDeepLinkInfo& info) {
    APMParameters extras{{"cis", APMValue("ddp")}};
    if (info.vclid) extras.set("vclid", *info.vclid);
    if (info.vbraid) extras.set("vbraid", *info.vbraid);
    APMParameters extraInfo;
    if (info.timestamp) extraInfo.set("timestamp", *info.timestamp);
    monitor()->log(8, 23203, "Sending Deferred Deep Link to app delegate");
    const double taken = now();
    // The delegate hook runs on the main queue; the worker queue never waits for it.
    dispatcher_.mainQueue()->async([weak = weak_from_this(), url = info.deeplink, extras, extraInfo, taken] {
        auto self = weak.lock();
        if (!self) return;
        if (!self->sendDeepLinkURLToAppDelegateOnMainThread(url, extraInfo)) {
            monitor()->log(3, 23204, "App delegate not configured to handle Deferred Deep Link", url);
            return;
        }
        self->scheduleWeakly("APMMeasurement:456", [url, extras, taken](APMMeasurement& engine) {
            engine.handleOpenURLOnWorkerQueue(url, std::nullopt, taken, extras);
        });
    });
}
