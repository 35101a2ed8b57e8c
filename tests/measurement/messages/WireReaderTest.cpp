// The one-pass reader against the nanopb decoder: for well-formed and damaged
// encodings of every message, decoding gives the same verdict, the same
// "<ERROR>" texts and a record that writes the same bytes as the nanopb
// decoder alone; well-formed input never needs the nanopb decoder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "MessageTestSupport.h"
#include "RandomRecord.h"
#include "WireWriter.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/APMPBMessages.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/WireBinding.h"

using namespace measurement::messages;

namespace {

struct Outcome {
    bool decoded;
    std::string output;
    std::vector<std::uint8_t> encoding;
};

template <typename Decode>
Outcome decodeWith(const MessageType& type, Decode decode) {
    OwnedRecord record(type);
    Outcome outcome{};
    outcome.output = stdoutOf([&] { outcome.decoded = decode(record.get()); });
    if (outcome.decoded) outcome.encoding = encodeRecord(type, record.get());
    return outcome;
}

void expectSameAsNanopbDecoder(const MessageType& type, const std::vector<std::uint8_t>& bytes, const char* what) {
    const Outcome ours = decodeWith(type, [&](MessageInfo* info) {
        return APMMessageInfoDecode(type, bytes.data(), bytes.size(), info);
    });
    const Outcome nanopb = decodeWith(type, [&](MessageInfo* info) {
        return decodeMessageAtDepth(type, bytes.data(), bytes.size(), info, 0);
    });
    EXPECT_EQ(ours.decoded, nanopb.decoded) << type.name << " " << what;
    EXPECT_EQ(ours.output, nanopb.output) << type.name << " " << what;
    EXPECT_EQ(ours.encoding, nanopb.encoding) << type.name << " " << what;
}

std::vector<std::uint8_t> randomEncoding(const MessageType& type, std::mt19937_64& random) {
    MessageInfo* record = randomRecord(type, random);
    std::vector<std::uint8_t> bytes = encodeRecord(type, record);
    EXPECT_TRUE(APMMessageInfoFree(type, record));
    return bytes;
}

}  // namespace

TEST(WireReader, ReadsEveryWellFormedEncodingAloneAndAsTheNanopbDecoderDoes) {
    std::mt19937_64 random(7);
    for (const MessageType* type : allMessageTypes()) {
        for (int index = 0; index < 10; ++index) {
            const auto bytes = randomEncoding(*type, random);
            OwnedRecord record(*type);
            std::string output = stdoutOf([&] {
                EXPECT_TRUE(readWellFormed(*type, bytes.data(), bytes.size(), record.get())) << type->name;
            });
            EXPECT_EQ(output, "");
            EXPECT_EQ(encodeRecord(*type, record.get()), bytes) << type->name;
            expectSameAsNanopbDecoder(*type, bytes, "well formed");
        }
    }
}

TEST(WireReader, DamagedEncodingsGiveTheNanopbDecodersVerdictAndTexts) {
    std::mt19937_64 random(11);
    for (const MessageType* type : allMessageTypes()) {
        for (int index = 0; index < 6; ++index) {
            auto bytes = randomEncoding(*type, random);
            if (bytes.empty()) continue;
            expectSameAsNanopbDecoder(*type, {bytes.begin(), bytes.begin() + random() % bytes.size()}, "truncated");
            auto doubled = bytes;
            doubled.insert(doubled.end(), bytes.begin(), bytes.end());
            expectSameAsNanopbDecoder(*type, doubled, "twice");  // singular messages merge, strings keep the first
            for (int flip = 0; flip < 8; ++flip) {
                auto damaged = bytes;
                damaged[random() % damaged.size()] ^= static_cast<std::uint8_t>(1u << (random() % 8));
                expectSameAsNanopbDecoder(*type, damaged, "bit flipped");
            }
        }
    }
}

TEST(WireReader, RealBatchesConfigurationsAndProgramsAreReadInOnePass) {
    const std::pair<const char*, const MessageType*> real[] = {
        {"upload_batch", &kMeasurementBatch},   {"upload_bundle", &kMeasurementBundle},
        {"measurement_config", &kMeasurementConfig}, {"program_deep_statement", &kProgram},
        {"experiment_request", &kExperimentRequest}, {"experiment_response", &kExperimentResponse},
    };
    for (const auto& [file, type] : real) {
        std::ifstream input(std::filesystem::path(MESSAGES_FUZZ_CORPUS) / file, std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>()};
        ASSERT_FALSE(bytes.empty()) << file;
        OwnedRecord record(*type);
        EXPECT_TRUE(readWellFormed(*type, bytes.data(), bytes.size(), record.get())) << file;
        EXPECT_EQ(encodeRecord(*type, record.get()), bytes) << file;
    }
    // Every seed, read as every message, as the nanopb decoder reads it.
    for (const auto& entry : std::filesystem::directory_iterator(MESSAGES_FUZZ_CORPUS)) {
        std::ifstream input(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>()};
        for (const MessageType* type : allMessageTypes()) {
            expectSameAsNanopbDecoder(*type, bytes, entry.path().filename().c_str());
        }
    }
}

TEST(WireReader, LeavesWhatOnlyTheNanopbDecoderHandlesToItAndAFreshRecord) {
    struct Case {
        const MessageType* type;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {&kResultData, WireWriter().packed(1, {1, 2}).bytes()},
        {&kResultData, WireWriter().varint(1, 1).key(0, 0).bytes()},  // zero tag
        {&kResultData, WireWriter().key(9, 3).bytes()},                // a group
        {&kAudienceLeafFilterResult,                                   // a single message twice: merged
         WireWriter().message(2, WireWriter().varint(1, 1)).message(2, WireWriter().varint(1, 2)).bytes()},
        {&kConsentDefaultEntry, WireWriter().varint(1, 1ull << 33).bytes()},  // an enum beyond 32 bits
    };
    for (const Case& example : cases) {
        OwnedRecord record(*example.type);
        EXPECT_FALSE(readWellFormed(*example.type, example.bytes.data(), example.bytes.size(), record.get()));
        EXPECT_EQ(encodeRecord(*example.type, record.get()), std::vector<std::uint8_t>{}) << example.type->name;
        expectSameAsNanopbDecoder(*example.type, example.bytes, "left to nanopb");
    }
}

TEST(WireReader, EnumsAreUnsignedToNanopbAsTheReaderAndWriterTreatThem) {
    // The reader refuses, and the writer zero-extends, enum values as nanopb
    // does for enums without negative values; a negative value in the schema
    // would change that.
    for (const MessageType* type : allMessageTypes()) {
        pb_field_iter_t field;
        std::vector<unsigned char> wire(type->structSize);
        if (!pb_field_iter_begin(&field, type->descriptor, wire.data())) continue;
        do {
            if (type->slots[type->slotsByTag[field.index]].flags & FieldFlag::Enum) {
                EXPECT_EQ(PB_LTYPE(field.type), PB_LTYPE_UVARINT) << type->name << "." << field.tag;
            }
        } while (pb_field_iter_next(&field));
    }
}

TEST(WireWriting, AMissingRecordInsideAnElementIsNamedOnce) {
    auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
    auto event = APMPBEvent::initWithMessageInfo(nullptr);
    ASSERT_TRUE(bundle && event);
    APMPBSetArray(*bundle, MeasurementBundleSlot::Events, APMPBArray{std::shared_ptr<NANOMessageBase>(event)});
    auto* events = static_cast<RepeatedArray*>(bundle->messageInfo()->fields[MeasurementBundleSlot::Events]);
    ASSERT_EQ(events->count, 1u);
    auto* element = static_cast<MessageInfo*>(events->items[0]);
    std::free(element->fields[EventSlot::Params]);
    element->fields[EventSlot::Params] = nullptr;
    std::optional<APMPBData> data;
    const std::string output = stdoutOf([&] { data = bundle->protoBuffer(); });
    EXPECT_FALSE(data.has_value());
    EXPECT_EQ(output, "<ERROR> Event Encoder: 'params' should have been allocated\n");
}
