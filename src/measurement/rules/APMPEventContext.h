#pragma once
// The event being edited: the input as handed in, the output that edit
// callbacks change (a copy of the input), and the events programs created
// during the current event. One context per APMPEventEditing.

#include <string>
#include <vector>

#include "measurement/rules/APMPEvent.h"

namespace measurement::rules {

class APMPEventContext {
public:
    APMPEventContext() = default;
    explicit APMPEventContext(APMPEvent event);

    // Input = the event, output = a fresh copy, created events emptied.
    void setInputEvent(APMPEvent event);

    const APMPEvent& inputEvent() const { return inputEvent_; }
    const APMPEvent& outputEvent() const { return outputEvent_; }
    APMPEvent& outputEvent() { return outputEvent_; }
    void setOutputEvent(APMPEvent event) { outputEvent_ = std::move(event); }
    const std::vector<APMPEvent>& eventsToLog() const { return loggedEvents_; }

    // Appends a created event; each parameter is normalised against the
    // input event's value of the same name.
    void logEventWithName(std::string name, double timestamp, const platform::PropertyDictionary& parameters);

private:
    std::vector<APMPEvent> loggedEvents_;
    APMPEvent inputEvent_;
    APMPEvent outputEvent_;
};

}  // namespace measurement::rules
