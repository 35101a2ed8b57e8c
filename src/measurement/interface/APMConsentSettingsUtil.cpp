#include "measurement/interface/APMConsentSettingsUtil.h"

#include <map>
#include <mutex>

namespace {

using platform::PropertyValue;

const PropertyValue* findIn(const std::optional<APMConsentSettings>& settings, const std::string& key) {
    if (!settings) return nullptr;
    auto found = settings->find(key);
    return found == settings->end() ? nullptr : &found->second;
}

bool isEmpty(const std::optional<APMConsentSettings>& settings) { return !settings || settings->empty(); }

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

struct ConsentState {
    std::optional<APMConsentSettings> consentSettings;
    std::optional<APMConsentSettings> defaultSettings;
    std::optional<APMConsentSettings> delegatedSettings;
    std::optional<APMConsentSettings> regionalDefaults;
    std::int64_t consentSource = APMConsentSourceNone;
    std::int64_t version = 1;
    std::optional<std::map<std::string, std::int64_t>> diagnosticSources;

    const PropertyValue* current(const std::string& type) const { return findIn(consentSettings, type); }

    // "eu_consent_policy" stands for the regional default, "denied" without one.
    const PropertyValue* resolvingRegionalPolicy(const std::string& type, const PropertyValue* value) const {
        static const PropertyValue denied(kAPMConsentStatusDenied);
        if (!APMConsentValueIs(value, kAPMConsentStatusEUConsentPolicy)) return value;
        const PropertyValue* regional = findIn(regionalDefaults, type);
        return regional ? regional : &denied;
    }

    const PropertyValue* effectiveAdUserData() const {
        const PropertyValue* value = resolvingRegionalPolicy(kAPMConsentTypeAdUserData, current(kAPMConsentTypeAdUserData));
        if (value) return value;
        const PropertyValue* delegate = findIn(delegatedSettings, kAPMConsentTypeAdUserData);
        if (delegate && delegate->isString()) {
            if (const PropertyValue* delegated = current(*delegate->asString())) return delegated;
        }
        return findIn(defaultSettings, kAPMConsentTypeAdUserData);
    }

    const PropertyValue* effectiveAdPersonalization() const {
        const PropertyValue* value =
            resolvingRegionalPolicy(kAPMConsentTypeAdPersonalization, current(kAPMConsentTypeAdPersonalization));
        return value ? value : findIn(defaultSettings, kAPMConsentTypeAdPersonalization);
    }

    bool isEqualPriority(std::int64_t source) const {
        if (source == consentSource) return true;
        return (source == APMConsentSourceTCF && consentSource == APMConsentSourceThirdParty) ||
               (source == APMConsentSourceThirdParty && consentSource == APMConsentSourceTCF);
    }

    bool isHigherPriority(std::int64_t source) const { return isEqualPriority(source) || consentSource >= source; }

    void resetDiagnosticSources() {
        diagnosticSources.emplace();
        for (const char* type : kAPMConsentTypesInOrder) (*diagnosticSources)[type] = 0;
    }

    void refreshDiagnosticSources(bool fromSource) {
        if (!diagnosticSources) resetDiagnosticSources();
        for (const char* type : kAPMConsentTypesInOrder) {
            std::int64_t& digit = (*diagnosticSources)[type];
            if (const PropertyValue* value = current(type)) {
                if (fromSource) digit = APMConsentDiagnosticDigitForSource(consentSource);
                if (APMConsentValueIs(value, kAPMConsentStatusEUConsentPolicy)) digit = 8;
            } else if (std::string_view(type) == kAPMConsentTypeAdUserData &&
                       findIn(delegatedSettings, kAPMConsentTypeAdUserData)) {
                digit = 2;
            } else if (findIn(defaultSettings, type) && !endsWith(type, "_storage")) {
                digit = 1;
            } else {
                digit = 9;
            }
        }
    }

    void merge(const APMConsentSettings& settings) {
        if (!consentSettings) consentSettings.emplace();
        for (const auto& [key, value] : settings) (*consentSettings)[key] = value;
    }

    void merge(const APMConsentSettings& settings, std::int64_t source) {
        merge(settings);
        consentSource = source;
        if (!diagnosticSources) return;
        const std::int64_t digit = APMConsentDiagnosticDigitForSource(source);
        for (const auto& entry : settings) (*diagnosticSources)[entry.first] = digit;
    }
};

std::mutex& stateMutex() {
    static std::mutex mutex;
    return mutex;
}

ConsentState& state() {
    static ConsentState instance;
    return instance;
}

// Runs `body` on the state with every other caller kept out.
template <typename Body>
auto withState(Body&& body) {
    std::lock_guard lock(stateMutex());
    return body(state());
}

std::string statusCharacter(const PropertyValue* value) {
    if (APMConsentValueIs(value, kAPMConsentStatusDenied)) return "0";
    if (APMConsentValueIs(value, kAPMConsentStatusGranted)) return "1";
    return "-";
}

}  // namespace

std::optional<APMConsentSettings> APMConsentSettingsUtil::consentSettings() {
    return withState([](ConsentState& s) { return s.consentSettings; });
}

std::optional<APMConsentSettings> APMConsentSettingsUtil::defaultSettings() {
    return withState([](ConsentState& s) { return s.defaultSettings; });
}

std::optional<APMConsentSettings> APMConsentSettingsUtil::delegatedSettings() {
    return withState([](ConsentState& s) { return s.delegatedSettings; });
}

std::optional<APMConsentSettings> APMConsentSettingsUtil::regionalDefaults() {
    return withState([](ConsentState& s) { return s.regionalDefaults; });
}

void APMConsentSettingsUtil::setConsentSettings(std::optional<APMConsentSettings> settings) {
    withState([&](ConsentState& s) {
        s.consentSettings = std::move(settings);
        if (s.consentSettings) return;
        s.consentSource = APMConsentSourceNone;
        s.refreshDiagnosticSources(true);
    });
}

void APMConsentSettingsUtil::setDefaultSettings(std::optional<APMConsentSettings> settings) {
    withState([&](ConsentState& s) { s.defaultSettings = std::move(settings); });
}

void APMConsentSettingsUtil::setDelegatedSettings(std::optional<APMConsentSettings> settings) {
    withState([&](ConsentState& s) { s.delegatedSettings = std::move(settings); });
}

void APMConsentSettingsUtil::setRegionalDefaults(std::optional<APMConsentSettings> settings) {
    withState([&](ConsentState& s) { s.regionalDefaults = std::move(settings); });
}

std::int64_t APMConsentSettingsUtil::consentSource() {
    return withState([](ConsentState& s) { return s.consentSource; });
}

void APMConsentSettingsUtil::setConsentSource(std::int64_t source) {
    withState([&](ConsentState& s) {
        s.consentSource = source;
        s.refreshDiagnosticSources(true);
    });
}

std::int64_t APMConsentSettingsUtil::version() {
    return withState([](ConsentState& s) { return s.version; });
}

void APMConsentSettingsUtil::setVersion(std::int64_t version) {
    if (version != 1 && version != 2) return;
    withState([&](ConsentState& s) { s.version = version; });
}

void APMConsentSettingsUtil::updateSettings(const APMConsentSettings& settings) {
    withState([&](ConsentState& s) { s.merge(settings); });
}

void APMConsentSettingsUtil::updateSettings(const APMConsentSettings& settings, std::int64_t source) {
    withState([&](ConsentState& s) { s.merge(settings, source); });
}

bool APMConsentSettingsUtil::updateSettingsWhenOfPriority(
    const APMConsentSettings& settings, std::int64_t source,
    const std::function<void(const APMConsentSettings&)>& persist, bool& adUserDataWasDenied) {
    return withState([&](ConsentState& s) {
        if (!s.isHigherPriority(source)) return false;
        adUserDataWasDenied = APMConsentValueIs(s.effectiveAdUserData(), kAPMConsentStatusDenied);
        s.merge(settings, source);
        if (persist) persist(*s.consentSettings);
        return true;
    });
}

bool APMConsentSettingsUtil::isAdStorageDenied() {
    return withState(
        [](ConsentState& s) { return APMConsentValueIs(s.current(kAPMConsentTypeAdStorage), kAPMConsentStatusDenied); });
}

bool APMConsentSettingsUtil::isAnalyticsStorageDenied() {
    return withState([](ConsentState& s) {
        return APMConsentValueIs(s.current(kAPMConsentTypeAnalyticsStorage), kAPMConsentStatusDenied);
    });
}

bool APMConsentSettingsUtil::isAdUserDataDenied() {
    return withState(
        [](ConsentState& s) { return APMConsentValueIs(s.effectiveAdUserData(), kAPMConsentStatusDenied); });
}

std::optional<int> APMConsentSettingsUtil::adPersonalization() {
    return withState([](ConsentState& s) -> std::optional<int> {
        const PropertyValue* value = s.effectiveAdPersonalization();
        if (APMConsentValueIs(value, kAPMConsentStatusDenied)) return 0;
        if (APMConsentValueIs(value, kAPMConsentStatusGranted)) return 1;
        return std::nullopt;
    });
}

bool APMConsentSettingsUtil::didAdUserDataConsentChange(bool previouslyDenied) {
    return isAdUserDataDenied() != previouslyDenied;
}

bool APMConsentSettingsUtil::isConsentSourceEqualPriority(std::int64_t source) {
    return withState([&](ConsentState& s) { return s.isEqualPriority(source); });
}

bool APMConsentSettingsUtil::isConsentSourceHigherPriority(std::int64_t source) {
    return withState([&](ConsentState& s) { return s.isHigherPriority(source); });
}

std::string APMConsentSettingsUtil::consentSignals() {
    return withState([](ConsentState& s) {
        return "G1" + statusCharacter(s.current(kAPMConsentTypeAdStorage)) +
               statusCharacter(s.current(kAPMConsentTypeAnalyticsStorage));
    });
}

std::string APMConsentSettingsUtil::consentDiagnostics() {
    return withState([](ConsentState& s) {
        s.refreshDiagnosticSources(false);
        const bool nothingRemote = isEmpty(s.defaultSettings) && isEmpty(s.delegatedSettings);
        std::string text = "1";
        for (const char* type : kAPMConsentTypesInOrder) {
            const std::int64_t digit = (nothingRemote && !s.current(type)) ? 9 : (*s.diagnosticSources)[type];
            text += std::to_string(digit);
        }
        return text;
    });
}

void APMConsentSettingsUtil::setDiagnosticSource(std::int64_t digit, const std::string& consentType) {
    withState([&](ConsentState& s) {
        if (!s.diagnosticSources) s.resetDiagnosticSources();
        (*s.diagnosticSources)[consentType] = digit;
    });
}

void APMConsentSettingsUtil::unsetAdPersonalization() {
    withState([](ConsentState& s) {
        if (!s.current(kAPMConsentTypeAdPersonalization)) return;
        s.consentSettings->erase(kAPMConsentTypeAdPersonalization);
        if (!s.diagnosticSources) s.resetDiagnosticSources();
        (*s.diagnosticSources)[kAPMConsentTypeAdPersonalization] = 0;
    });
}

std::string APMConsentSettingsUtil::description() {
    return withState([](ConsentState& s) {
        auto valueText = [&s](const std::string& type) -> std::string {
            const PropertyValue* value = s.current(type);
            if (!value) return kAPMConsentStatusGranted;  // only storage types print when absent
            if (APMConsentValueIs(value, kAPMConsentStatusEUConsentPolicy))
                return APMConsentValueDescription(*s.resolvingRegionalPolicy(type, value)) + " (eu_consent_policy)";
            return APMConsentValueDescription(*value);
        };
        std::string text = std::string(kAPMConsentTypeAdStorage) + " is " + valueText(kAPMConsentTypeAdStorage) +
                           ". " + kAPMConsentTypeAnalyticsStorage + " is " +
                           valueText(kAPMConsentTypeAnalyticsStorage) + ".";
        for (const char* type : {kAPMConsentTypeAdUserData, kAPMConsentTypeAdPersonalization}) {
            if (s.current(type)) text += std::string(" ") + type + " is " + valueText(type) + ".";
        }
        return text;
    });
}

void APMConsentSettingsUtil::clearAllSettings() {
    withState([](ConsentState& s) {
        s.consentSource = APMConsentSourceNone;
        s.consentSettings.reset();
        s.defaultSettings.reset();
        s.delegatedSettings.reset();
        s.regionalDefaults.reset();
        s.resetDiagnosticSources();
    });
}

APMConsentSettings APMConsentSettingsUtil::consentSettingsFromDictionary(const platform::PropertyDictionary& dictionary) {
    return APMConsentSettingsFromDictionary(dictionary);
}

void APMConsentSettingsUtil::resetForTesting() {
    withState([](ConsentState& s) { s = ConsentState{}; });
}
