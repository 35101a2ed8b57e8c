// Fuzz target: arbitrary bytes loaded as an event-editing program, which then
// edits a sample event twice (callbacks, created events and garbage carry
// over between events). Whatever the program does, the engine must answer
// with a result or an error: no crash, no undefined behaviour, no unbounded
// run. What comes back goes through the event bridge as the engine would
// hand it on.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "measurement/interface/APMEvent.h"
#include "measurement/messages/APMPBMessages.h"
#include "measurement/rules/APMPEventEditing.h"
#include "measurement/rules/APMPMessageLogger.h"
#include "measurement/rules/APMPixieLogger.h"
#include "measurement/storage/APMMonitor.h"
#include "platform/core/UserDefaults.h"

using namespace measurement::rules;

namespace {

std::shared_ptr<APMMonitor>& quietMonitor() {
    static std::shared_ptr<APMMonitor> monitor;
    return monitor;
}

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "%s\n", what);
        std::abort();
    }
}

// A purchase as the application logs it: numbers of both kinds, text, and
// an array of item dictionaries, which the rule engine sees as plain objects.
APMPEvent sampleEvent() {
    const APMValue items(std::vector<APMParameters>{
        {{"item_id", APMValue("sku-1")}, {"quantity", APMValue(2)}, {"price", APMValue(4.25)}},
        {{"item_id", APMValue("sku-2")}, {"quantity", APMValue(1)}}});
    const std::optional<APMEvent> event =
        APMEvent::initWithOrigin("app", false, "purchase", 1700000000.5, 0,
                                 {{"value", APMValue(9.5)},
                                  {"currency", APMValue("EUR")},
                                  {"count", APMValue(3)},
                                  {"label", APMValue("summer")},
                                  {"items", items}});
    check(event.has_value(), "the sample event was refused");
    platform::PropertyDictionary parameters;
    for (const auto& [name, object] : event->editEventParameters()) {
        if (const auto* plain = std::get_if<platform::PropertyValue>(&object)) parameters.emplace(name, *plain);
    }
    return APMPEvent(event->editEventName(), event->timestamp(), std::move(parameters));
}

// Hands an event from the rule engine back to the measurement layer.
void bridgeBack(const APMPEvent& event) {
    (void)APMEvent::eventFromEditEvent(event.name(), event.timestamp(),
                                       APMObjectParametersFrom(event.parameters()));
}

void handle(APMPEventEditing& editing, const APMPEvent& event) {
    ErrorSlot error;
    const bool changed = editing.handleEvent(event, error);
    if (error) {
        check(!changed, "a failed event was reported as changed");
        return;
    }
    check(changed == (editing.hasEdits() || editing.hasCreatedEvents()), "the verdict disagrees with the event");
    bridgeBack(editing.eventContext().outputEvent());
    for (const APMPEvent& created : editing.eventContext().eventsToLog()) bridgeBack(created);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every diagnostic line goes nowhere: the fuzzer's output stays readable
    // (the message runtime prints a line for every refused input), and no
    // user defaults of the machine are read.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) return 0;
    APMMonitor::Options options;
    options.userDefaults = std::make_shared<platform::UserDefaults>(
        "monitor", std::filesystem::temp_directory_path() / "mossbridge-run-program-fuzz");
    options.sink = [](const std::string&) {};
    quietMonitor() = std::make_shared<APMMonitor>(options);
    APMMonitor::resetSharedForTesting(quietMonitor());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto program = APMPBProgram::initWithBuffer(std::span<const std::uint8_t>(data, size));
    if (!program) return 0;
    APMPEventEditing editing;
    editing.setModuleCreator(
        [] { return std::make_shared<APMPMessageLogger>(std::make_shared<APMPixieLogger>(quietMonitor())); },
        u"internal.logger");
    ErrorSlot error;
    const bool loaded = editing.loadProgram(*program, error);
    check(loaded == !error, "the load's answer disagrees with its error");
    if (!loaded) return 0;
    const APMPEvent event = sampleEvent();
    handle(editing, event);
    handle(editing, event);
    return 0;
}
