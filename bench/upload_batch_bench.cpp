// A typical upload batch: one bundle of 100 events with 5 parameters each,
// plus the usual bundle metadata and a few user properties. Encoded and
// decoded once through the message layer (wrappers, typed access, records)
// and once through nanopb directly, over plain structures with callbacks.
#include <benchmark/benchmark.h>
#include <pb_decode.h>
#include <pb_encode.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "measurement.pb.h"
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
    APMPBSetArray(*bundle, 2, attributes);
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
        APMPBSetArray(*message, 0, params);
        APMPBSetString(*message, 1, event.name);
        APMPBSetInt64(*message, 2, event.timestamp);
        events.emplace_back(std::shared_ptr<NANOMessageBase>(message));
    }
    APMPBSetArray(*bundle, 1, events);
    auto batch = APMPBMeasurementBatch::initWithMessageInfo(nullptr);
    APMPBSetArray(*batch, 0, APMPBArray{std::shared_ptr<NANOMessageBase>(bundle)});
    return batch;
}

// ------------------------------------------------------ nanopb directly --

using namespace std::string_literals;

bool encodeString(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
    const auto* text = static_cast<const std::string*>(*arg);
    return pb_encode_tag_for_field(stream, field) &&
           pb_encode_string(stream, reinterpret_cast<const pb_byte_t*>(text->data()), text->size());
}

void setString(pb_callback_t& callback, const std::string& text) {
    callback.funcs.encode = encodeString;
    callback.arg = const_cast<std::string*>(&text);
}

bool encodeParams(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
    for (const Param& param : *static_cast<const std::vector<Param>*>(*arg)) {
        mossbridge_measurement_EventParam message = mossbridge_measurement_EventParam_init_zero;
        setString(message.name, param.name);
        if (param.kind == Param::String) setString(message.string_value, param.stringValue);
        if (param.kind == Param::Int) message.has_int_value = true, message.int_value = param.intValue;
        if (param.kind == Param::Double) message.has_double_value = true, message.double_value = param.doubleValue;
        if (!pb_encode_tag_for_field(stream, field) ||
            !pb_encode_submessage(stream, mossbridge_measurement_EventParam_fields, &message))
            return false;
    }
    return true;
}

bool encodeEvents(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
    for (const Event& event : *static_cast<const std::vector<Event>*>(*arg)) {
        mossbridge_measurement_Event message = mossbridge_measurement_Event_init_zero;
        message.params.funcs.encode = encodeParams;
        message.params.arg = const_cast<std::vector<Param>*>(&event.params);
        setString(message.name, event.name);
        message.has_timestamp_millis = true;
        message.timestamp_millis = event.timestamp;
        if (!pb_encode_tag_for_field(stream, field) ||
            !pb_encode_submessage(stream, mossbridge_measurement_Event_fields, &message))
            return false;
    }
    return true;
}

bool encodeAttributes(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
    for (const Attribute& attribute : *static_cast<const std::vector<Attribute>*>(*arg)) {
        mossbridge_measurement_UserAttribute message = mossbridge_measurement_UserAttribute_init_zero;
        message.has_set_timestamp_millis = true;
        message.set_timestamp_millis = attribute.setTimestamp;
        setString(message.name, attribute.name);
        setString(message.string_value, attribute.stringValue);
        if (!pb_encode_tag_for_field(stream, field) ||
            !pb_encode_submessage(stream, mossbridge_measurement_UserAttribute_fields, &message))
            return false;
    }
    return true;
}

bool encodeBundles(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
    const Bundle& data = *static_cast<const Bundle*>(*arg);
    mossbridge_measurement_MeasurementBundle message = mossbridge_measurement_MeasurementBundle_init_zero;
    message.has_protocol_version = true;
    message.protocol_version = 1;
    message.has_start_timestamp_millis = true;
    message.start_timestamp_millis = data.start;
    message.has_end_timestamp_millis = true;
    message.end_timestamp_millis = data.end;
    setString(message.platform, data.platform);
    setString(message.os_version, data.osVersion);
    setString(message.device_model, data.deviceModel);
    setString(message.app_id, data.appId);
    setString(message.app_version, data.appVersion);
    setString(message.app_instance_id, data.appInstanceId);
    message.user_attributes.funcs.encode = encodeAttributes;
    message.user_attributes.arg = const_cast<std::vector<Attribute>*>(&data.attributes);
    message.events.funcs.encode = encodeEvents;
    message.events.arg = const_cast<std::vector<Event>*>(&data.events);
    return pb_encode_tag_for_field(stream, field) &&
           pb_encode_submessage(stream, mossbridge_measurement_MeasurementBundle_fields, &message);
}

std::vector<std::uint8_t> encodeDirectly(const Bundle& data) {
    mossbridge_measurement_MeasurementBatch batch = mossbridge_measurement_MeasurementBatch_init_zero;
    batch.bundles.funcs.encode = encodeBundles;
    batch.bundles.arg = const_cast<Bundle*>(&data);
    pb_ostream_t sizing = PB_OSTREAM_SIZING;
    pb_encode(&sizing, mossbridge_measurement_MeasurementBatch_fields, &batch);
    std::vector<std::uint8_t> bytes(sizing.bytes_written);
    pb_ostream_t stream = pb_ostream_from_buffer(bytes.data(), bytes.size());
    if (!pb_encode(&stream, mossbridge_measurement_MeasurementBatch_fields, &batch)) bytes.clear();
    return bytes;
}

bool decodeString(pb_istream_t* stream, const pb_field_t*, void** arg) {
    auto* text = static_cast<std::string*>(*arg);
    text->resize(stream->bytes_left);
    return pb_read(stream, reinterpret_cast<pb_byte_t*>(text->data()), text->size());
}

void readString(pb_callback_t& callback, std::string& text) {
    callback.funcs.decode = decodeString;
    callback.arg = &text;
}

bool decodeParam(pb_istream_t* stream, const pb_field_t*, void** arg) {
    auto& params = *static_cast<std::vector<Param>*>(*arg);
    Param& param = params.emplace_back();
    mossbridge_measurement_EventParam message = mossbridge_measurement_EventParam_init_zero;
    readString(message.name, param.name);
    readString(message.string_value, param.stringValue);
    if (!pb_decode(stream, mossbridge_measurement_EventParam_fields, &message)) return false;
    param.intValue = message.int_value;
    param.doubleValue = message.double_value;
    param.kind = message.has_int_value ? Param::Int : message.has_double_value ? Param::Double : Param::String;
    return true;
}

bool decodeEvent(pb_istream_t* stream, const pb_field_t*, void** arg) {
    Event& event = static_cast<std::vector<Event>*>(*arg)->emplace_back();
    mossbridge_measurement_Event message = mossbridge_measurement_Event_init_zero;
    message.params.funcs.decode = decodeParam;
    message.params.arg = &event.params;
    readString(message.name, event.name);
    if (!pb_decode(stream, mossbridge_measurement_Event_fields, &message)) return false;
    event.timestamp = message.timestamp_millis;
    return true;
}

bool decodeAttribute(pb_istream_t* stream, const pb_field_t*, void** arg) {
    Attribute& attribute = static_cast<std::vector<Attribute>*>(*arg)->emplace_back();
    mossbridge_measurement_UserAttribute message = mossbridge_measurement_UserAttribute_init_zero;
    readString(message.name, attribute.name);
    readString(message.string_value, attribute.stringValue);
    if (!pb_decode(stream, mossbridge_measurement_UserAttribute_fields, &message)) return false;
    attribute.setTimestamp = message.set_timestamp_millis;
    return true;
}

bool decodeBundle(pb_istream_t* stream, const pb_field_t*, void** arg) {
    Bundle& data = static_cast<std::vector<Bundle>*>(*arg)->emplace_back();
    mossbridge_measurement_MeasurementBundle message = mossbridge_measurement_MeasurementBundle_init_zero;
    message.events.funcs.decode = decodeEvent;
    message.events.arg = &data.events;
    message.user_attributes.funcs.decode = decodeAttribute;
    message.user_attributes.arg = &data.attributes;
    readString(message.platform, data.platform);
    readString(message.os_version, data.osVersion);
    readString(message.device_model, data.deviceModel);
    readString(message.app_id, data.appId);
    readString(message.app_version, data.appVersion);
    readString(message.app_instance_id, data.appInstanceId);
    if (!pb_decode(stream, mossbridge_measurement_MeasurementBundle_fields, &message)) return false;
    data.start = message.start_timestamp_millis;
    data.end = message.end_timestamp_millis;
    return true;
}

std::vector<Bundle> decodeDirectly(const std::vector<std::uint8_t>& bytes) {
    std::vector<Bundle> bundles;
    mossbridge_measurement_MeasurementBatch batch = mossbridge_measurement_MeasurementBatch_init_zero;
    batch.bundles.funcs.decode = decodeBundle;
    batch.bundles.arg = &bundles;
    pb_istream_t stream = pb_istream_from_buffer(bytes.data(), bytes.size());
    if (!pb_decode(&stream, mossbridge_measurement_MeasurementBatch_fields, &batch)) bundles.clear();
    return bundles;
}

// ---------------------------------------------------------- benchmarks --

void EncodeMessageLayer(benchmark::State& state) {
    const auto batch = batchThroughMessageLayer(typicalBundle());
    for (auto _ : state) {
        auto data = batch->protoBuffer();
        benchmark::DoNotOptimize(data);
    }
}

void EncodeNanopbDirect(benchmark::State& state) {
    const Bundle data = typicalBundle();
    for (auto _ : state) {
        auto bytes = encodeDirectly(data);
        benchmark::DoNotOptimize(bytes);
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

void DecodeNanopbDirect(benchmark::State& state) {
    const auto bytes = encodeDirectly(typicalBundle());
    for (auto _ : state) {
        auto bundles = decodeDirectly(bytes);
        benchmark::DoNotOptimize(bundles);
    }
    state.counters["bytes"] = static_cast<double>(bytes.size());
}

BENCHMARK(EncodeMessageLayer);
BENCHMARK(EncodeNanopbDirect);
BENCHMARK(DecodeMessageLayer);
BENCHMARK(DecodeNanopbDirect);

// Prints how many times slower the message layer is than nanopb driven directly.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const char* operation : {"Encode", "Decode"}) {
            const auto layer = times_.find(std::string(operation) + "MessageLayer");
            const auto direct = times_.find(std::string(operation) + "NanopbDirect");
            if (layer != times_.end() && direct != times_.end() && direct->second > 0) {
                std::printf("%s ratio, message layer / nanopb direct: %.2f\n", operation,
                            layer->second / direct->second);
            }
        }
    }

private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (encodeDirectly(typicalBundle()) != batchThroughMessageLayer(typicalBundle())->protoBuffer()->toVector()) {
        std::fprintf(stderr, "the two encoders disagree on the batch\n");
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
