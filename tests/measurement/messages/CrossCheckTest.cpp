// Round trips against an independent encoder: random instances of every
// message written by this runtime are parsed and re-serialised by the
// platform's Python protocol-buffer library, and its random instances are
// decoded and re-encoded here; both must give identical bytes. The schema
// compiler's raw decoder must read what this runtime writes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "MessageTestSupport.h"
#include "RandomRecord.h"

using namespace measurement::messages;
namespace fs = std::filesystem;

namespace {

constexpr int kInstancesPerMessage = 25;

struct CommandResult {
    int status;
    std::string output;
};

CommandResult run(const std::string& command) {
    CommandResult result{-1, {}};
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    while (std::size_t read = std::fread(buffer, 1, sizeof buffer, pipe)) result.output.append(buffer, read);
    result.status = pclose(pipe);
    return result;
}

std::string python(const std::string& arguments) {
    return std::string("PYTHONPATH='") + MESSAGES_PYTHON_MODULE_DIR + "' '" + MESSAGES_PYTHON3 + "' '" +
           MESSAGES_CROSSCHECK_SCRIPT + "' " + arguments;
}

std::vector<std::uint8_t> readFile(const fs::path& path) {
    std::ifstream input(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream output(path, std::ios::binary);
    output.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class CrossCheck : public testing::Test {
protected:
    void SetUp() override {
        directory = fs::temp_directory_path() / ("messages-crosscheck-" + std::to_string(::getpid()));
        fs::remove_all(directory);
        fs::create_directories(directory);
    }
    void TearDown() override { fs::remove_all(directory); }

    std::vector<std::uint8_t> randomEncoding(const MessageType& type, std::mt19937_64& random) {
        MessageInfo* record = randomRecord(type, random);
        std::vector<std::uint8_t> bytes = encodeRecord(type, record);
        EXPECT_TRUE(APMMessageInfoFree(type, record));
        return bytes;
    }

    fs::path directory;
};

}  // namespace

TEST_F(CrossCheck, WhatThisRuntimeWritesThePythonLibraryWritesBackIdentically) {
    std::mt19937_64 random(20240611);
    std::size_t nonEmpty = 0;
    for (const MessageType* type : allMessageTypes()) {
        for (int index = 0; index < kInstancesPerMessage; ++index) {
            const auto bytes = randomEncoding(*type, random);
            nonEmpty += bytes.empty() ? 0 : 1;
            writeFile(directory / (std::string(type->name) + "." + std::to_string(index) + ".bin"), bytes);
        }
    }
    EXPECT_GT(nonEmpty, allMessageTypes().size() * kInstancesPerMessage / 2);
    const CommandResult result = run(python("reencode '" + directory.string() + "'"));
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("checked " + std::to_string(allMessageTypes().size() * kInstancesPerMessage)),
              std::string::npos)
        << result.output;
}

TEST_F(CrossCheck, WhatThePythonLibraryWritesThisRuntimeWritesBackIdentically) {
    const CommandResult generated =
        run(python("generate '" + directory.string() + "' 7 " + std::to_string(kInstancesPerMessage)));
    ASSERT_EQ(generated.status, 0) << generated.output;
    std::size_t checked = 0;
    for (const auto& entry : fs::directory_iterator(directory)) {
        const std::string fileName = entry.path().filename().string();
        const MessageType* type = messageTypeNamed(fileName.substr(0, fileName.find('.')).c_str());
        ASSERT_NE(type, nullptr) << fileName;
        const auto bytes = readFile(entry.path());
        OwnedRecord record(*type);
        ASSERT_TRUE(record.decode(bytes)) << fileName;
        EXPECT_EQ(encodeRecord(*type, record.get()), bytes) << fileName;
        ++checked;
    }
    EXPECT_EQ(checked, allMessageTypes().size() * kInstancesPerMessage);
}

TEST_F(CrossCheck, TheRawDecoderReadsWhatThisRuntimeWrites) {
    std::mt19937_64 random(99);
    std::vector<std::uint8_t> bytes;
    while (bytes.size() < 64) bytes = randomEncoding(kMeasurementBatch, random);
    const fs::path file = directory / "batch.bin";
    writeFile(file, bytes);
    const CommandResult raw = run(std::string("'") + MESSAGES_PROTOC + "' --decode_raw < '" + file.string() + "'");
    EXPECT_EQ(raw.status, 0) << raw.output;
    EXPECT_NE(raw.output.find("1 {"), std::string::npos) << raw.output;
}
