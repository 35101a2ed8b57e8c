// The settings of the remote configuration: bounds, defaults, decimal-only
// parsing in any locale, milliseconds read as seconds, Booleans, and the
// parts of a configuration other than settings.

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <locale>

#include "EngineTestSupport.h"
#include "measurement/rules/APMPEventEditing.h"
#include "measurement/storage/APMMonitor.h"

namespace engine_test {
namespace {

class RemoteConfigSettings : public EngineFixture {
protected:
    std::shared_ptr<APMRemoteConfig> configWith(const std::vector<std::pair<std::string, std::string>>& settings) {
        database = openDatabase();
        auto config = APMRemoteConfig::create(kAppID, database, nullptr, nullptr);
        EXPECT_TRUE(config->updateMeasurementConfig(makeConfig(kAppID, settings)));
        return config;
    }
    std::shared_ptr<APMDatabase> database;
};

// The configured text of a setting for a value in its own unit.
std::string configured(const APMRemoteConfig::SettingDescriptor& setting, double value) {
    if (setting.kind == APMRemoteConfig::SettingKind::Interval) value *= 1000;
    return APMDecimalText(value);
}

TEST_F(RemoteConfigSettings, EveryTableSettingTakesItsBoundsAndFallsBackOutsideThemOrOnNonDecimalText) {
    const auto& table = APMRemoteConfig::settingDescriptors();
    ASSERT_GT(table.size(), 70u);
    struct Probe {
        const char* label;
        std::function<std::string(const APMRemoteConfig::SettingDescriptor&)> text;
        std::function<double(const APMRemoteConfig::SettingDescriptor&)> expected;
    };
    const Probe probes[] = {
        {"absent", nullptr, [](const auto& s) { return s.defaultValue; }},
        {"minimum", [](const auto& s) { return configured(s, s.minimum); }, [](const auto& s) { return s.minimum; }},
        {"maximum", [](const auto& s) { return configured(s, s.maximum); }, [](const auto& s) { return s.maximum; }},
        {"below", [](const auto& s) { return configured(s, s.minimum - 1); }, [](const auto& s) { return s.defaultValue; }},
        {"above", [](const auto& s) { return configured(s, s.maximum + 1); }, [](const auto& s) { return s.defaultValue; }},
        {"words", [](const auto&) { return std::string("twelve"); }, [](const auto& s) { return s.defaultValue; }},
        {"exponent", [](const auto&) { return std::string("1e2"); }, [](const auto& s) { return s.defaultValue; }},
        {"comma", [](const auto&) { return std::string("0,5"); }, [](const auto& s) { return s.defaultValue; }},
    };
    for (const Probe& probe : probes) {
        std::vector<std::pair<std::string, std::string>> settings;
        if (probe.text) {
            for (const auto& setting : table) settings.emplace_back(setting.key, probe.text(setting));
        }
        auto config = configWith(settings);
        for (const auto& setting : table) {
            EXPECT_EQ(setting.read(*config), probe.expected(setting)) << probe.label << " " << setting.accessor;
        }
    }
}

TEST_F(RemoteConfigSettings, SpecialReadingsOfIntervalsCountsAndBooleans) {
    const struct {
        const char* key;
        const char* value;
        std::function<double(const APMRemoteConfig&)> read;
        double expected;
    } cases[] = {
        {"measurement.upload.interval", "60000", [](const auto& c) { return c.uploadingInterval(); }, 60},
        {"measurement.upload.interval", "5000", [](const auto& c) { return c.uploadingInterval(); }, 3600},
        {"measurement.upload.interval", "86400000", [](const auto& c) { return c.uploadingInterval(); }, 86400},
        {"measurement.upload.interval", "60000.9", [](const auto& c) { return c.uploadingInterval(); }, 60},
        {"measurement.upload.retry_count", "24", [](const auto& c) { return c.uploadingRetryCount(); }, 24},
        {"measurement.upload.retry_count", "25", [](const auto& c) { return c.uploadingRetryCount(); }, 6},
        {"measurement.upload.retry_count", "abc", [](const auto& c) { return c.uploadingRetryCount(); }, 6},
        {"measurement.upload.retry_count", "+7", [](const auto& c) { return c.uploadingRetryCount(); }, 7},
        {"measurement.upload.retry_count", "7.9", [](const auto& c) { return c.uploadingRetryCount(); }, 7},
        {"measurement.upload.blacklist_public", "1", [](const auto& c) { return c.blocklistPublic(); }, 1},
        {"measurement.upload.blacklist_public", "0", [](const auto& c) { return c.blocklistPublic(); }, 0},
        {"measurement.upload.blacklist_public", "2", [](const auto& c) { return c.blocklistPublic(); }, 0},
        {"measurement.ddl.enabled", "0.5", [](const auto& c) { return c.isDeferredDeepLinkEnabled(); }, 0},
        {"measurement.ddl.enabled", "-1", [](const auto& c) { return c.isDeferredDeepLinkEnabled(); }, 1},
        {"measurement.upload.max_bundles_created_per_iteration", "5000",
         [](const auto& c) { return c.maxBundlesCreatedPerIteration(); }, 5},
        {"measurement.upload.max_bundles_created_per_iteration", "100",
         [](const auto& c) { return c.maxBundlesCreatedPerIteration(); }, 100},
        {"measurement.upload.max_event_parameter_value_length", "100",
         [](const auto& c) { return c.maxInternalEventParameterValueLength(); }, 256},
        {"measurement.psm_start_count", "7", [](const auto& c) { return c.maxPSMStartCount(); }, 7},
    };
    for (const auto& test : cases) {
        auto config = configWith({{test.key, test.value}});
        EXPECT_EQ(test.read(*config), test.expected) << test.key << " = " << test.value;
        EXPECT_EQ(test.read(*config), test.expected) << "second read of " << test.key;
    }
}

// Present only in sanitizer builds.
extern "C" void __lsan_disable() __attribute__((weak));
extern "C" void __lsan_enable() __attribute__((weak));

// Switches the process to a German locale (decimal comma). When the system
// has not generated it, it is compiled from the installed definitions into
// this test's own temporary folder and found through LOCPATH.
bool switchToGermanLocale() {
    if (std::setlocale(LC_ALL, "de_DE.UTF-8")) return true;
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "locales";
    std::filesystem::create_directories(folder);
    const std::string command = "localedef -i de_DE -f UTF-8 '" + (folder / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) == -1) return false;
    setenv("LOCPATH", folder.c_str(), 1);
    return std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
}

TEST_F(RemoteConfigSettings, ParsingIgnoresTheProcessLocale) {
    // The C library keeps a parsed copy of LOCPATH for the life of the
    // process, which the leak checker of sanitizer builds would report.
    if (__lsan_disable) __lsan_disable();
    const bool cLocaleSet = switchToGermanLocale();
    bool globalSet = false;
    try {
        std::locale::global(std::locale("de_DE.UTF-8"));
        globalSet = true;
    } catch (const std::runtime_error&) {
    }
    if (__lsan_enable) __lsan_enable();
    if (!cLocaleSet && !globalSet) GTEST_SKIP() << "no German locale definitions (Debian package locales)";
    auto config = configWith({{"measurement.upload.interval", "60000.5"},
                              {"measurement.upload.retry_count", "12,5"},
                              {"measurement.upload.max_batch_size", "1.000"}});
    EXPECT_EQ(config->uploadingInterval(), 60);
    EXPECT_EQ(config->uploadingRetryCount(), 6);
    EXPECT_EQ(config->uploadMaxSizeLimitBytes(), 1);
    std::setlocale(LC_ALL, "C");
    std::locale::global(std::locale::classic());
}

TEST_F(RemoteConfigSettings, PsmNumbersBypassBoundsAndEventConfigsUseInternalNames) {
    auto message = makeConfig(kAppID, {{"measurement.psm_prefix_email", "10"}});
    auto psm = APMPBPsmSetting::initWithBuffer({});
    APMPBSetInt32(*psm, 0, 40);
    APMPBSetMessage(*message, 13, psm.get());
    std::vector<std::shared_ptr<APMPBEventConfig>> events;
    for (auto [name, rate] : {std::pair{"first_open", 10}, {"low", 1}, {"high", 70000}}) {
        auto event = APMPBEventConfig::initWithBuffer({});
        APMPBSetString(*event, 0, name);
        APMPBSetInt32(*event, 3, rate);
        APMPBSetBool(*event, 1, std::string(name) == "low");
        events.push_back(event);
    }
    APMPBSetArray(*message, 4, APMPBArrayOfMessages(events));
    database = openDatabase();
    auto config = APMRemoteConfig::create(kAppID, database, nullptr, nullptr);
    ASSERT_TRUE(config->updateMeasurementConfig(message));
    EXPECT_EQ(config->hashPrefixBitLengthEmail(), 40);
    EXPECT_EQ(config->samplingRateForEvent("_f"), 10);
    EXPECT_FALSE(config->eventHasSamplingRate("first_open"));
    EXPECT_EQ(config->samplingRateForEvent("low"), 1);
    EXPECT_EQ(config->samplingRateForEvent("high"), 1);
    EXPECT_TRUE(config->isEventBlocklisted("low"));
    EXPECT_FALSE(config->isEventBlocklisted("_f"));
}

TEST_F(RemoteConfigSettings, ForeignConfigurationsAreRefusedAndTheStoredOneComesBack) {
    database = openDatabase();
    auto config = APMRemoteConfig::create(kAppID, database, nullptr, nullptr);
    ASSERT_TRUE(config->updateMeasurementConfig(makeConfig(kAppID, {{"measurement.upload.interval", "60000"}})));
    EXPECT_FALSE(config->updateMeasurementConfig(makeConfig("other", {{"measurement.upload.interval", "120000"}})));
    EXPECT_EQ(monitor.linesWithCode(29004).size(), 1u);
    EXPECT_EQ(config->uploadingInterval(), 60);
    APMRemoteConfigEnvironment environment;
    environment.clock = &dispatcher.virtualClock();
    auto reopened = APMRemoteConfig::create(kAppID, database, nullptr, nullptr, environment);
    EXPECT_EQ(reopened->uploadingInterval(), 60);
    EXPECT_FALSE(reopened->isExpired());
}

TEST_F(RemoteConfigSettings, DefaultInstanceAnswersDefaultsAndRefusesUpdates) {
    auto config = APMRemoteConfig::defaultInstance();
    EXPECT_EQ(config->uploadingInterval(), 3600);
    EXPECT_FALSE(config->updateMeasurementConfig(makeConfig(kAppID)));
    EXPECT_EQ(monitor.linesWithCode(29002).size(), 1u);
    EXPECT_FALSE(config->isExpired());
    EXPECT_EQ(config->version(), -1);
}

TEST_F(RemoteConfigSettings, AFailedProgramKeepsThePreviousConsentAndDataControls) {
    database = openDatabase();
    auto config = APMRemoteConfig::create(kAppID, database, nullptr, nullptr);
    auto first = makeConfig(kAppID);
    auto control = APMPBDataControl::initWithBuffer({});
    APMPBSetString(*control, 0, "ads");
    APMPBSetArray(*first, 9, APMPBArrayOfMessages(std::vector{control}));
    ASSERT_TRUE(config->updateMeasurementConfig(first));
    auto second = makeConfig(kAppID, {{"measurement.upload.interval", "60000"}});
    auto program = APMPBProgram::initWithBuffer({});
    auto activities = APMPBOgtActivities::initWithBuffer({});
    auto activity = APMPBOgtActivity::initWithBuffer({});
    auto number = APMPBRuntimeEntity::initWithBuffer({});  // a statement that yields no map
    APMPBSetInt32(*number, 0, 2);  // ENTITY_NUMBER
    APMPBSetDouble(*number, 5, 1);
    APMPBSetString(*activity, 0, "edit");
    APMPBSetArray(*activity, 1, APMPBArrayOfMessages(std::vector{number}));
    APMPBSetArray(*activities, 0, APMPBArrayOfMessages(std::vector{activity}));
    APMPBSetMessage(*program, 1, activities.get());
    APMPBSetArray(*second, 8, APMPBArrayOfMessages(std::vector{program}));
    ASSERT_TRUE(config->updateMeasurementConfig(second));
    EXPECT_EQ(monitor.linesWithCode(29026).size(), 1u);
    EXPECT_EQ(config->eventEditing(), nullptr);
    EXPECT_EQ(config->dataControls(), std::vector<std::string>{"ads"});
    EXPECT_EQ(config->uploadingInterval(), 60);
}

TEST_F(RemoteConfigSettings, ConfigurationURLAcceptsHttpsAndLoopbackHttpOnly) {
    const struct {
        const char* base;
        bool accepted;
    } cases[] = {
        {"https://config.example.net", true},  {"http://127.0.0.1:8080", true}, {"http://localhost:1", true},
        {"http://127.evil.example", false},    {"http://config.example.net", false},
        {"ftp://config.example.net", false},   {"https://a b", false},          {"https://x@host", false},
    };
    database = openDatabase();
    for (const auto& test : cases) {
        APMRemoteConfigEnvironment environment;
        environment.endpoints.configBaseURL = test.base;
        auto config = APMRemoteConfig::create("1:2:macos:3", database, nullptr, nullptr, environment);
        const auto url = config->remoteConfigURLWithPlatform("macos", 121800, 0);
        EXPECT_EQ(url.has_value(), test.accepted) << test.base;
        if (url) {
            EXPECT_EQ(*url, std::string(test.base) +
                                "/config/app/1:2:macos:3?platform=macos&runtime_version=0&vaz_version=121800");
        }
    }
}

}  // namespace
}  // namespace engine_test
