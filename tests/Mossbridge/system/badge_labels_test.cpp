#include "Mossbridge/system/BadgeLabels.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>

#include "Mossbridge/system/BadgeLabelParsing.h"
#include "StatusSourceFixtures.h"
#include "platform/desktop/InMemoryDesktop.h"
#include "platform/desktop/InMemoryLaunchServicesTool.h"
#include "platform/desktop/Scenario.h"

namespace Mossbridge {
namespace {

using testing::capturedOutput;
using Labels = std::map<std::string, std::string>;

const std::vector<AppStatusTarget> kTargets = {{"com.example.Mail", "Mail", 12}, {"com.example.chat", "Chat", 34}};

TEST(BadgeLabelNormalisationTest, NullMarkersAndZeroGiveNoBadge) {
    for (const char* none : {"", "  ", "0", "null", "NULL", "(null)", "kCFNull", "<kcfnull>", "K-CF_NULL"}) {
        EXPECT_EQ(normalizedBadgeLabel(none), std::nullopt) << none;
    }
}

TEST(BadgeLabelNormalisationTest, PositiveIntegersBecomeCanonicalOtherTextStays) {
    EXPECT_EQ(normalizedBadgeLabel(" 007 "), "7");
    EXPECT_EQ(normalizedBadgeLabel("+5"), "5");
    EXPECT_EQ(normalizedBadgeLabel("00"), "00");
    EXPECT_EQ(normalizedBadgeLabel("-2"), "-2");
    EXPECT_EQ(normalizedBadgeLabel("!"), "!");
    EXPECT_EQ(normalizedBadgeLabel("New"), "New");
    EXPECT_EQ(normalizedBadgeLabel("99999999999999999999"), "99999999999999999999");  // beyond 64 bits
    EXPECT_EQ(normalizedBadgeLabel("١٢"), "١٢");  // only ASCII digits count as a number
}

TEST(LSAppInfoParsingTest, MultiLineRecordWithMixedCaseIdentifier) {
    const std::string output =
        "1) \"Mail\" ASN:0x0-0x1a01a:\n"
        "    \"BundleIdentifier\"=\"COM.Example.MAIL\"\n"
        "    \"StatusLabel\"={\n"
        "        \"label\"=\"3\"\n"
        "    }\n"
        "2) \"Chat\" ASN:0x0-0x1b01b:\n"
        "    bundleid=com.example.chat;\n"
        "    \"StatusLabel\"={ \"label\"=\"kCFNull\" }\n";
    EXPECT_EQ(parseLSAppInfoList(output, kTargets), (Labels{{"com.example.Mail", "3"}}));
}

TEST(LSAppInfoParsingTest, OneLineBlocksAndBareWordLabels) {
    const std::string output =
        "\"BundleIdentifier\"=\"com.example.chat\"\n"
        "\"StatusLabel\"={ \"label\"=hello }\n"
        "\"BundleIdentifier\"=\"com.example.mail\"\n"
        "\"StatusLabel\"={ \"label\"=\"+12\" }";
    EXPECT_EQ(parseLSAppInfoList(output, kTargets), (Labels{{"com.example.chat", "hello"}, {"com.example.Mail", "12"}}));
}

TEST(LSAppInfoParsingTest, ABlockStillOpenAtTheEndIsDropped) {
    const std::string output =
        "\"BundleIdentifier\"=\"com.example.chat\"\n"
        "\"StatusLabel\"={ \"label\"=\"4\"\n"
        "   \"other\"=1";
    EXPECT_TRUE(parseLSAppInfoList(output, kTargets).empty());
}

TEST(LSAppInfoParsingTest, UnknownApplicationsAndBlocksWithoutIdentifierAreIgnored) {
    const std::string output =
        "\"StatusLabel\"={ \"label\"=\"1\" }\n"
        "\"BundleIdentifier\"=\"org.other\"\n"
        "\"StatusLabel\"={ \"label\"=\"2\" }\n";
    EXPECT_TRUE(parseLSAppInfoList(output, kTargets).empty());
}

TEST(LSAppInfoParsingTest, IdentifierAndLabelReaders) {
    EXPECT_EQ(lsappinfoBundleIdentifier("kLSBundleIdentifierLowerCaseKey = \"Com.A.B\";"), "com.a.b");
    EXPECT_EQ(lsappinfoBundleIdentifier("BundleIdentifier=org.x.y; pid=3"), "org.x.y");
    EXPECT_EQ(lsappinfoStatusLabel("StatusLabel = { label = \"9\" }"), "9");
    EXPECT_EQ(lsappinfoStatusLabel("\"StatusLabel\"={ \"label\"=\"0\" } label=\"2\""), "2");
}

// Answers the tool's runs from a script of canned results, recording them.
struct FakeTool {
    std::vector<platform::ProcessRequest> requests;
    std::map<std::string, platform::ProcessResult> answers;  // by the arguments joined with blanks

    static platform::ProcessResult exited(int status, std::string out, std::string err = {}) {
        platform::ProcessResult result;
        result.outcome = platform::ProcessOutcome::Exited;
        result.exitStatus = status;
        result.standardOutput = std::move(out);
        result.standardError = std::move(err);
        return result;
    }

    BadgeLabelReader reader() {
        return BadgeLabelReader("/usr/bin/lsappinfo", [this](const platform::ProcessRequest& request) {
            requests.push_back(request);
            std::string key;
            for (const auto& argument : request.arguments) key += (key.empty() ? "" : " ") + argument;
            const auto answer = answers.find(key);
            return answer != answers.end() ? answer->second : exited(0, "");
        });
    }

    std::vector<std::string> joinedRequests() const {
        std::vector<std::string> joined;
        for (const auto& request : requests) {
            std::string key;
            for (const auto& argument : request.arguments) key += (key.empty() ? "" : " ") + argument;
            joined.push_back(key);
        }
        return joined;
    }
};

TEST(BadgeLabelReaderTest, ListLabelsAreUsedWithoutAskingEachApplication) {
    FakeTool tool;
    tool.answers["list"] = FakeTool::exited(0, "\"BundleIdentifier\"=\"com.example.chat\"\n\"StatusLabel\"={ \"label\"=\"5\" }\n");
    Labels labels;
    const auto output = capturedOutput([&] { labels = tool.reader().launchServicesBadges(kTargets); });
    EXPECT_EQ(labels, (Labels{{"com.example.chat", "5"}}));
    EXPECT_EQ(tool.joinedRequests(), std::vector<std::string>{"list"});
    EXPECT_EQ(tool.requests[0].executablePath, "/usr/bin/lsappinfo");
    EXPECT_EQ(tool.requests[0].timeoutSeconds, 0.75);
    EXPECT_EQ(output, "Mossbridge: LaunchServices StatusLabel badges found [\"com.example.chat\": \"5\"]\n");
}

TEST(BadgeLabelReaderTest, WithoutListLabelsEachTargetIsAskedByProcessThenByBundle) {
    FakeTool tool;
    tool.answers["list"] = FakeTool::exited(0, "nothing useful");
    tool.answers["info -only StatusLabel com.example.Mail"] = FakeTool::exited(0, "\"StatusLabel\"={ \"label\"=\"2\" }");
    tool.answers["info -only StatusLabel #34"] = FakeTool::exited(0, "\"StatusLabel\"={ \"label\"=\"!\" }");
    Labels labels;
    capturedOutput([&] { labels = tool.reader().launchServicesBadges(kTargets); });
    EXPECT_EQ(labels, (Labels{{"com.example.Mail", "2"}, {"com.example.chat", "!"}}));
    EXPECT_EQ(tool.joinedRequests(), (std::vector<std::string>{"list", "info -only StatusLabel #12",
                                                                "info -only StatusLabel com.example.Mail",
                                                                "info -only StatusLabel #34"}));
}

TEST(BadgeLabelReaderTest, FailuresOnlyLeaveLabelsAbsent) {
    FakeTool tool;
    platform::ProcessResult timedOut;
    timedOut.outcome = platform::ProcessOutcome::TimedOut;
    tool.answers["list"] = timedOut;
    tool.answers["info -only StatusLabel #12"] = FakeTool::exited(1, "\"StatusLabel\"={ \"label\"=\"7\" }", " no such app \n");
    tool.answers["info -only StatusLabel com.example.Mail"] = FakeTool::exited(0, std::string("\xff\xfe label=\"3\""));
    setenv("MOSSBRIDGE_PERF_LOGS", "1", 1);
    Labels labels;
    const auto output = capturedOutput([&] { labels = tool.reader().launchServicesBadges({kTargets[0]}); });
    unsetenv("MOSSBRIDGE_PERF_LOGS");
    EXPECT_TRUE(labels.empty());
    EXPECT_NE(output.find(" status.badges.launchServices.timeout list\n"), std::string::npos) << output;
    EXPECT_NE(output.find(" status.badges.launchServices.error no such app\n"), std::string::npos) << output;
}

TEST(BadgeLabelReaderTest, AMissingToolIsReportedAndGivesNoLabels) {
    const BadgeLabelReader reader("/nonexistent/lsappinfo");
    Labels labels;
    const auto output = capturedOutput([&] { labels = reader.launchServicesBadges({kTargets[0]}); });
    EXPECT_TRUE(labels.empty());
    EXPECT_EQ(output.rfind("Mossbridge: lsappinfo failed to start: ", 0), 0u) << output;
}

TEST(BadgeLabelReaderTest, AMissingToolIsReportedOnceHoweverManyRunsAndPassesFail) {
    const BadgeLabelReader reader("/nonexistent/lsappinfo");
    const auto source = badgeSource(reader);  // a copy, as the status service holds it
    Labels labels;
    const auto output = capturedOutput([&] {
        for (int pass = 0; pass < 3; ++pass) labels = source(kTargets);
        labels = reader.launchServicesBadges(kTargets);
    });
    EXPECT_TRUE(labels.empty());
    EXPECT_EQ(output.find("Mossbridge: lsappinfo failed to start: "), 0u) << output;
    EXPECT_EQ(output.find('\n'), output.size() - 1) << output;
}

TEST(BadgeLabelReaderTest, TheInMemoryDesktopsToolAnswersTheScenariosBadgesThroughTheParse) {
    const auto load = platform::parseScenario(R"({
        "applications": [{"bundleIdentifier": "com.example.Mail", "name": "Mail", "pid": 12},
                         {"bundleIdentifier": "com.example.chat", "name": "Chat", "pid": 34}],
        "badges": {"com.example.Mail": "007", "com.example.chat": "0"}})", ".");
    ASSERT_TRUE(load.scenario) << load.error;
    const auto desktop = platform::InMemoryDesktop::fromScenario(*load.scenario);
    const BadgeLabelReader reader(platform::kLaunchServicesToolPath, desktop.processes);
    Labels labels;
    const auto output = capturedOutput([&] { labels = reader.launchServicesBadges(kTargets); });
    EXPECT_EQ(labels, (Labels{{"com.example.Mail", "7"}}));  // "0" is no badge
    EXPECT_EQ(output, "Mossbridge: LaunchServices StatusLabel badges found [\"com.example.Mail\": \"7\"]\n");

    // Asked one by one, as when the list yields nothing, it answers alike.
    EXPECT_EQ(reader.runLSAppInfo({"info", "-only", "StatusLabel", "#12"}), "\"StatusLabel\"={ \"label\"=\"007\" }");
    EXPECT_EQ(reader.runLSAppInfo({"info", "-only", "StatusLabel", "com.example.chat"}), "\"StatusLabel\"={ \"label\"=\"0\" }");
    // Every other tool is a real process.
    platform::ProcessRequest echo;
    echo.executablePath = "/bin/echo";
    echo.arguments = {"real"};
    const auto other = desktop.processes(echo);
    EXPECT_EQ(other.standardOutput, "real\n");
}

// A shell script standing in for the tool.
std::string writeTool(const testing::ScratchFolder& scratch, const std::string& body) {
    const auto path = scratch / "lsappinfo";
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path.string();
}

TEST(BadgeLabelReaderTest, ARealToolsOutputIsReadAndAHangingToolIsCutOff) {
    testing::ScratchFolder scratch;
    std::ofstream(scratch / "output.txt") << "  \"StatusLabel\"={ \"label\"=\"8\" }\n\n";
    const BadgeLabelReader answering(writeTool(scratch, "cat '" + (scratch / "output.txt").string() + "'"));
    EXPECT_EQ(answering.runLSAppInfo({"info"}), "\"StatusLabel\"={ \"label\"=\"8\" }");

    const BadgeLabelReader hanging(writeTool(scratch, "exec sleep 30"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(hanging.runLSAppInfo({"list"}), std::nullopt);
    const auto waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(waited, 0.7);
    EXPECT_LT(waited, 3.0);
}

}  // namespace
}  // namespace Mossbridge
