// A typical upload batch: one bundle of 100 events with 5 parameters each,
// plus the usual bundle metadata and a few user properties. Encoded and
// decoded once through the message layer (records built with typed access,
// wrappers) and once by nanopb from and into its generated static
// structures.
#include <benchmark/benchmark.h>

#include "TimesReporter.h"
#include <pb_decode.h>
#include <pb_encode.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "upload_batch_static.pb.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/APMPBMessages.h"

namespace {

constexpr int kEvents = 100;
constexpr int kParamsPerEvent = 5;

// ---------------------------------------------------------------- data --

struct Param {
    std::string name;
    std::string stringValue;
    std::int64_t intValue = 0;
    double doubleValue = 0;
    enum { String, Int, Double } kind = Int;
};

struct Event {
    std::string name;
    std::int64_t timestamp = 0;
    std::vector<Param> params;
};

struct Attribute {
    std::string name;
    std::int64_t setTimestamp = 0;
    std::string stringValue;
};

struct Bundle {
    std::vector<Event> events;
    std::vector<Attribute> attributes;
    std::int64_t start = 0, end = 0;
    std::string platform, osVersion, deviceModel, appId, appVersion, appInstanceId;
};

Bundle typicalBundle() {
    Bundle bundle;
    bundle.start = 1'700'000'000'000;
    bundle.end = bundle.start + 60'000;
    bundle.platform = "macos";
    bundle.osVersion = "14.4.1";
    bundle.deviceModel = "Mac14,2";
    bundle.appId = "1:1234567890:macos:0123456789abcdef";
    bundle.appVersion = "2.3.0";
    bundle.appInstanceId = "5C1A7E0F0D8B4D6E9B2A3C4D5E6F7081";
    for (const char* name : {"_fot", "_fi", "_lte"}) {
        bundle.attributes.push_back({name, bundle.start, "value"});
    }
    for (int index = 0; index < kEvents; ++index) {
        Event event{index % 3 == 0 ? "pet_click" : "screen_view", bundle.start + index * 250, {}};
        event.params.push_back({"_o", "app", 0, 0, Param::String});
        event.params.push_back({"_et", "", 1200 + index, 0, Param::Int});
        event.params.push_back({"pet_kind", "Foxcat", 0, 0, Param::String});
        event.params.push_back({"_si", "", 8'123'456'789'012 + index, 0, Param::Int});
        event.params.push_back({"value", "", 0, 0.99 * index, Param::Double});
        bundle.events.push_back(std::move(event));
    }
    return bundle;
}

// --------------------------------------------------- the message layer --
// Each level hands its elements over to the one above (as the engine's
// builders do), so their records move up instead of being copied.

std::shared_ptr<APMPBMeasurementBatch> batchThroughMessageLayer(const Bundle& data) {
    auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
    APMPBSetInt32(*bundle, 0, 1);
    APMPBSetInt64(*bundle, 4, data.start);
    APMPBSetInt64(*bundle, 5, data.end);
    APMPBSetString(*bundle, 8, data.platform);
    APMPBSetString(*bundle, 9, data.osVersion);
    APMPBSetString(*bundle, 10, data.deviceModel);
    APMPBSetString(*bundle, 14, data.appId);
    APMPBSetString(*bundle, 16, data.appVersion);
    APMPBSetString(*bundle, 22, data.appInstanceId);
    APMPBArray attributes;
    for (const Attribute& attribute : data.attributes) {
        auto message = APMPBUserAttribute::initWithMessageInfo(nullptr);
        APMPBSetInt64(*message, 0, attribute.setTimestamp);
        APMPBSetString(*message, 1, attribute.name);
        APMPBSetString(*message, 2, attribute.stringValue);
        attributes.emplace_back(std::shared_ptr<NANOMessageBase>(message));
    }
    APMPBSetArray(*bundle, 2, std::move(attributes));
    APMPBArray events;
    for (const Event& event : data.events) {
        auto message = APMPBEvent::initWithMessageInfo(nullptr);
        APMPBArray params;
        for (const Param& param : event.params) {
            auto paramMessage = APMPBEventParam::initWithMessageInfo(nullptr);
            APMPBSetString(*paramMessage, 0, param.name);
            if (param.kind == Param::String) APMPBSetString(*paramMessage, 1, param.stringValue);
            if (param.kind == Param::Int) APMPBSetInt64(*paramMessage, 2, param.intValue);
            if (param.kind == Param::Double) APMPBSetDouble(*paramMessage, 4, param.doubleValue);
            params.emplace_back(std::shared_ptr<NANOMessageBase>(paramMessage));
        }
        APMPBSetArray(*message, 0, std::move(params));
        APMPBSetString(*message, 1, event.name);
        APMPBSetInt64(*message, 2, event.timestamp);
        events.emplace_back(std::shared_ptr<NANOMessageBase>(message));
    }
    APMPBSetArray(*bundle, 1, std::move(events));
    auto batch = APMPBMeasurementBatch::initWithMessageInfo(nullptr);
    APMPBArray bundles;
    bundles.emplace_back(std::shared_ptr<NANOMessageBase>(std::move(bundle)));
    APMPBSetArray(*batch, 0, std::move(bundles));
    return batch;
}

// ------------------------------------------- nanopb's static structures --
// The baseline: nanopb encoding the same batch from its generated structures
// (bench/schema, fixed sizes) into a buffer that is reused, and decoding it
// into a structure that is reused: no allocation and no callbacks at all.

using StaticBatch = mossbridge_bench_MeasurementBatch;

template <std::size_t N>
void copyText(char (&target)[N], bool& has, const std::string& text) {
    has = true;
    std::snprintf(target, N, "%s", text.c_str());
}

void fillStatic(const Bundle& data, StaticBatch& batch) {
    batch = mossbridge_bench_MeasurementBatch_init_zero;
    batch.bundles_count = 1;
    mossbridge_bench_MeasurementBundle& bundle = batch.bundles[0];
    bundle.has_protocol_version = true;
    bundle.protocol_version = 1;
    bundle.has_start_timestamp_millis = true;
    bundle.start_timestamp_millis = data.start;
    bundle.has_end_timestamp_millis = true;
    bundle.end_timestamp_millis = data.end;
    copyText(bundle.platform, bundle.has_platform, data.platform);
    copyText(bundle.os_version, bundle.has_os_version, data.osVersion);
    copyText(bundle.device_model, bundle.has_device_model, data.deviceModel);
    copyText(bundle.app_id, bundle.has_app_id, data.appId);
    copyText(bundle.app_version, bundle.has_app_version, data.appVersion);
    copyText(bundle.app_instance_id, bundle.has_app_instance_id, data.appInstanceId);
    for (const Attribute& attribute : data.attributes) {
        mossbridge_bench_UserAttribute& message = bundle.user_attributes[bundle.user_attributes_count++];
        message.has_set_timestamp_millis = true;
        message.set_timestamp_millis = attribute.setTimestamp;
        copyText(message.name, message.has_name, attribute.name);
        copyText(message.string_value, message.has_string_value, attribute.stringValue);
    }
    for (const Event& event : data.events) {
        mossbridge_bench_Event& message = bundle.events[bundle.events_count++];
        for (const Param& param : event.params) {
            mossbridge_bench_EventParam& paramMessage = message.params[message.params_count++];
            copyText(paramMessage.name, paramMessage.has_name, param.name);
            if (param.kind == Param::String) copyText(paramMessage.string_value, paramMessage.has_string_value, param.stringValue);
            if (param.kind == Param::Int) paramMessage.has_int_value = true, paramMessage.int_value = param.intValue;
            if (param.kind == Param::Double) paramMessage.has_double_value = true, paramMessage.double_value = param.doubleValue;
        }
        copyText(message.name, message.has_name, event.name);
        message.has_timestamp_millis = true;
        message.timestamp_millis = event.timestamp;
    }
}

// Returns the number of bytes written into `buffer`; 0 on failure.
std::size_t encodeStatic(const StaticBatch& batch, std::vector<std::uint8_t>& buffer) {
    pb_ostream_t stream = pb_ostream_from_buffer(buffer.data(), buffer.size());
    return pb_encode(&stream, mossbridge_bench_MeasurementBatch_fields, &batch) ? stream.bytes_written : 0;
}

std::vector<std::uint8_t> encodedStatic(const Bundle& data) {
    auto batch = std::make_unique<StaticBatch>();
    fillStatic(data, *batch);
    std::vector<std::uint8_t> buffer(mossbridge_bench_MeasurementBatch_size);
    buffer.resize(encodeStatic(*batch, buffer));
    return buffer;
}

// ---------------------------------------------------------- benchmarks --

void EncodeMessageLayer(benchmark::State& state) {
    const auto batch = batchThroughMessageLayer(typicalBundle());
    for (auto _ : state) {
        auto data = batch->protoBuffer();
        benchmark::DoNotOptimize(data);
    }
}

void EncodeNanopbStatic(benchmark::State& state) {
    auto batch = std::make_unique<StaticBatch>();
    fillStatic(typicalBundle(), *batch);
    std::vector<std::uint8_t> buffer(mossbridge_bench_MeasurementBatch_size);
    for (auto _ : state) {
        const std::size_t written = encodeStatic(*batch, buffer);
        benchmark::DoNotOptimize(written);
        benchmark::DoNotOptimize(buffer.data());
    }
}

// From the application's data to the bytes: building the records with typed
// access and encoding them, against filling nanopb's structure and encoding it.
void BuildAndEncodeMessageLayer(benchmark::State& state) {
    const Bundle data = typicalBundle();
    for (auto _ : state) {
        auto bytes = batchThroughMessageLayer(data)->protoBuffer();
        benchmark::DoNotOptimize(bytes);
    }
}

void BuildAndEncodeNanopbStatic(benchmark::State& state) {
    const Bundle data = typicalBundle();
    auto batch = std::make_unique<StaticBatch>();
    std::vector<std::uint8_t> buffer(mossbridge_bench_MeasurementBatch_size);
    for (auto _ : state) {
        fillStatic(data, *batch);
        const std::size_t written = encodeStatic(*batch, buffer);
        benchmark::DoNotOptimize(written);
        benchmark::DoNotOptimize(buffer.data());
    }
}

void DecodeMessageLayer(benchmark::State& state) {
    const auto bytes = batchThroughMessageLayer(typicalBundle())->protoBuffer()->toVector();
    for (auto _ : state) {
        auto batch = APMPBMeasurementBatch::initWithBuffer(bytes);
        benchmark::DoNotOptimize(batch);
    }
    state.counters["bytes"] = static_cast<double>(bytes.size());
}

void DecodeNanopbStatic(benchmark::State& state) {
    const auto bytes = encodedStatic(typicalBundle());
    auto batch = std::make_unique<StaticBatch>();
    for (auto _ : state) {
        pb_istream_t stream = pb_istream_from_buffer(bytes.data(), bytes.size());
        const bool decoded = pb_decode(&stream, mossbridge_bench_MeasurementBatch_fields, batch.get());
        benchmark::DoNotOptimize(decoded);
        benchmark::DoNotOptimize(batch.get());
    }
    state.counters["bytes"] = static_cast<double>(bytes.size());
}

BENCHMARK(EncodeMessageLayer);
BENCHMARK(EncodeNanopbStatic);
BENCHMARK(BuildAndEncodeMessageLayer);
BENCHMARK(BuildAndEncodeNanopbStatic);
BENCHMARK(DecodeMessageLayer);
BENCHMARK(DecodeNanopbStatic);

// Both sides handle the same bytes, so the ratio of times is the ratio per
// byte; CPU time, which a busy machine disturbs least. The last line holds
// the three ratios.
void printRatios(const TimesReporter::Times& times) {
    std::string line = "Ratio per byte, message layer / nanopb static structs:";
    for (const char* operation : {"Encode", "BuildAndEncode", "Decode"}) {
        const auto layer = times.find(std::string(operation) + "MessageLayer");
        const auto direct = times.find(std::string(operation) + "NanopbStatic");
        if (layer != times.end() && direct != times.end() && direct->second > 0) {
            char figure[64];
            std::snprintf(figure, sizeof figure, " %s %.2f", operation, layer->second / direct->second);
            line += figure;
        }
    }
    std::printf("%s\n", line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const auto layerBytes = batchThroughMessageLayer(typicalBundle())->protoBuffer()->toVector();
    if (encodedStatic(typicalBundle()) != layerBytes) {
        std::fprintf(stderr, "the message layer and nanopb disagree on the batch\n");
        return 1;
    }
    auto decoded = APMPBMeasurementBatch::initWithBuffer(layerBytes);
    if (decoded == nullptr || decoded->protoBuffer()->toVector() != layerBytes) {
        std::fprintf(stderr, "the batch does not decode to itself\n");
        return 1;
    }
    TimesReporter reporter(printRatios, TimesReporter::Measure::cpuTime);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
