#include "VadovaUtilities/VULLogger.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct LoggedLine {
    VULLoggerLevel level;
    std::string subsystem;
    std::string line;
};

class Logger : public ::testing::Test {
protected:
    void SetUp() override {
        VULLoggerResetForTesting();
        VULLoggerSetSink([this](VULLoggerLevel level, const std::string& subsystem, const std::string& line) {
            lines.push_back({level, subsystem, line});
        });
    }
    void TearDown() override { VULLoggerResetForTesting(); }

    std::vector<LoggedLine> lines;
};

TEST_F(Logger, WarningLineHasVersionCategoryCodeAndFormattedMessage) {
    VULLoggerRegisterVersion("12.18.0");
    VULLoggerLogWarning("com.vadova.veredoda.analytics", "<VarUradazaduro>", false, "I-ACS023147",
                        "Vovara Zovuzuzez for Veredoda has not been created. %s %d%%", "Please configure.", 100);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].line,
              "12.18.0 - <VarUradazaduro>[I-ACS023147] Vovara Zovuzuzez for Veredoda has not been created. Please "
              "configure. 100%");
    EXPECT_EQ(lines[0].level, VULLoggerLevel::Warning);
    EXPECT_EQ(lines[0].subsystem, "com.vadova.veredoda.analytics");
}

TEST_F(Logger, MessagesAreNotReinterpretedAsFormats) {
    VULLoggerRegisterVersion("1");
    VULLogBasic(VULLoggerLevel::Notice, "s", "[C]", false, "I-NET900001", "100% %s %@");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].line, "1 - [C][I-NET900001] 100% %s %@");
}

TEST_F(Logger, LinesWithMalformedMessageCodesAreNotWritten) {
    for (const char* code : {"", "I-COR00003", "I-COR0000030", "I-cor000003", "E-COR000003", "I-CO1000003",
                             "I-COR00000X", "I_COR000003", "ICOR0000003"}) {
        EXPECT_FALSE(VULLoggerIsValidMessageCode(code)) << code;
        VULLoggerLogWarning("s", "[C]", true, code, "dropped");
    }
    EXPECT_TRUE(lines.empty());
    EXPECT_TRUE(VULLoggerIsValidMessageCode("I-ACS023147"));
}

TEST_F(Logger, ASinkMayLogWhileHandlingALine) {
    VULLoggerSetSink([this](VULLoggerLevel level, const std::string& subsystem, const std::string& line) {
        lines.push_back({level, subsystem, line});
        if (lines.size() == 1) VULLogBasic(VULLoggerLevel::Debug, "s", "[C]", false, "I-COR000002", "nested");
    });
    VULLogBasic(VULLoggerLevel::Warning, "s", "[C]", false, "I-COR000001", "outer");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].line, " - [C][I-COR000002] nested");
}

TEST_F(Logger, WithoutASinkLinesGoToStandardError) {
    VULLoggerResetForTesting();
    VULLoggerRegisterVersion("9.9.9");
    testing::internal::CaptureStderr();
    VULLoggerLogWarning("s", "[VeredodaCore]", false, "I-COR000003", "to stderr");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "9.9.9 - [VeredodaCore][I-COR000003] to stderr\n");
}

}  // namespace
