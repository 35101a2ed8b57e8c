// The facade's consent entries and the calls consent makes back into the
// facade (APMConsentFacade).

#include <algorithm>
#include <utility>

#include "VeredodaAnalytics/APMAnalytics.h"
#include "VeredodaAnalytics/APMAnalyticsState.h"
#include "VeredodaCore/VRDAnalyticsStarting.h"
#include "VeredodaCore/VRDClassRegistry.h"
#include "measurement/interface/APMConsentSettingsStore.h"
#include "measurement/interface/APMConsentSettingsUtil.h"

using apm_analytics::state;

std::shared_ptr<APMConsentSettingsStore> APMAnalytics::consentStore() { return state()->consent; }

void APMAnalytics::setConsent(const platform::PropertyDictionary& settings, const std::string& key) {
    if (APMConsentSettingsUtil::consentSource() == APMConsentSourceNone) loadPersistedConsentSettings();
    consentStore()->setConsent(settings, key);
}

void APMAnalytics::loadPersistedConsentSettings() {
    const auto store = consentStore();
    const std::int64_t source = store->persistedConsentSource();
    if (source == APMConsentSourceNone) return;
    struct Copy {
        std::string key;
        std::int64_t cap;
        std::optional<APMConsentSettings> settings;
    };
    std::vector<Copy> copies = {
        {kAPMConsentSettingsTCFKey, APMConsentSourceTCF, store->consentSettingsTCF()},
        {kAPMConsentSettings3PKey, APMConsentSourcePlist, store->consentSettings3P()},
        {kAPMConsentSettingsKey, APMConsentSourceStartOptions, store->consentSettings1P()},
    };
    // The copy under the persisted source's key is the last full snapshot:
    // every update persists the whole merged settings there. An older copy
    // of another source (TCF data stored before a later denial) must not
    // shadow it, so it is tried first and the others follow in their order.
    const std::string latestKey = APMConsentSettingsStore::keyForSource(source);
    std::stable_partition(copies.begin(), copies.end(), [&](const Copy& copy) { return copy.key == latestKey; });
    for (auto& copy : copies) {
        if (!copy.settings) continue;
        APMConsentSettingsUtil::setConsentSettings(std::move(copy.settings));
        APMConsentSettingsUtil::setConsentSource(std::min(source, copy.cap));
        return;
    }
    APMConsentSettingsUtil::setConsentSource(source);
}

void APMAnalytics::logInternalEvent(const std::string& origin, const std::string& name,
                                    const APMParameters& parameters) {
    logInternalEventWithOrigin(origin, name, APMObjectParametersFrom(parameters));
}

void APMAnalytics::setUserPropertyString(const std::string& value, const std::string& name) {
    APMAnalytics::setUserPropertyString(std::optional<std::string>(value), name);
}

void APMAnalytics::incrementDiagnosticsSignal(const std::string& name) {
    if (APMAnalyticsEngineBridge::hasEngine()) APMAnalyticsEngineBridge::incrementDiagnosticsSignal(name, "");
}

bool APMAnalytics::hasRemoteConsentDefaults() const { return APMAnalyticsEngineBridge::hasRemoteConsentDefaults(); }

namespace {

APMConsentSettings orEmpty(std::optional<APMConsentSettings> settings) {
    return settings ? std::move(*settings) : APMConsentSettings{};
}

}  // namespace

APMConsentSettings APMAnalytics::consentSettings3P() { return orEmpty(consentStore()->consentSettings3P()); }

APMConsentSettings APMAnalytics::consentSettings1PStart() { return orEmpty(consentStore()->consentSettings1PStart()); }

APMConsentSettings APMAnalytics::consentSettingsTCF() { return orEmpty(consentStore()->consentSettingsTCF()); }

void APMAnalytics::persistConsentSettings(const APMConsentSettings& settings, std::int64_t source) {
    consentStore()->persistConsentSettings(settings, source);
}

void APMAnalytics::clearConsent() { consentStore()->clearConsent(); }

APMProspectiveConsentChoice APMChooseProspectiveConsent(const APMProspectiveConsentSources& sources,
                                                        const std::function<bool(std::int64_t)>& isHigherPriority) {
    APMProspectiveConsentChoice choice;
    const auto choose = [&](const APMConsentSettings& settings, std::int64_t source) {
        choice.settings = settings;
        choice.source = source;
        choice.apply = !settings.empty() && isHigherPriority(source);
        return choice;
    };
    if (!sources.tcf.empty() && isHigherPriority(APMConsentSourceTCF) &&
        (sources.currentSource == APMConsentSourceTCF || sources.thirdParty.empty())) {
        return choose(sources.tcf, APMConsentSourceTCF);
    }
    if (!sources.plist.empty() && isHigherPriority(APMConsentSourcePlist)) {
        return choose(sources.plist, APMConsentSourcePlist);
    }
    // The facade loaded this consent from what the application set through
    // the interface or its start options; it stays as loaded (and persisted),
    // or a denial would be lost at every launch.
    if (sources.interfaceClassExists &&
        (sources.currentSource == APMConsentSourceStartOptions || sources.currentSource == APMConsentSourceAPI)) {
        return choice;
    }
    if (!sources.firstPartyStart.empty() && isHigherPriority(APMConsentSourceStartOptions)) {
        return choose(sources.firstPartyStart, APMConsentSourceStartOptions);
    }
    return choose(sources.thirdParty, APMConsentSourceThirdParty);
}

void APMAnalytics::setProspectiveConsentSettings() {
    APMProspectiveConsentSources sources;
    sources.currentSource = APMConsentSettingsUtil::consentSource();
    sources.tcf = consentSettingsTCF();
    sources.plist = APMConsentSettingsUtil::consentSettingsFromPlist();
    sources.firstPartyStart = consentSettings1PStart();
    sources.thirdParty = consentSettings3P();
    sources.interfaceClassExists = VRDClassRegistry::shared().classNamed(kVRDAnalyticsClassName) != nullptr;
    const APMProspectiveConsentChoice choice =
        APMChooseProspectiveConsent(sources, &APMConsentSettingsUtil::isConsentSourceHigherPriority);
    if (!choice.apply) return;
    APMConsentSettingsUtil::setConsentSettings(choice.settings);
    APMConsentSettingsUtil::setConsentSource(choice.source);
    persistConsentSettings(choice.settings, choice.source);
}
