#pragma once
// Conversions between an event's contents (name, times, parameters) and the
// wire messages Event and EventParam. The event object builds its wire form
// and rebuilds itself from one through these functions.
//
// To the wire: a double parameter fills the double value, an integer the
// integer value, a string the string value, and an array one unnamed
// EventParam per item whose own param_value holds the item's parameters.
// An array inside an item is dropped (16007). Times are seconds, written as
// milliseconds truncated toward zero (saturating); the previous time only
// when it is above 2^-52 s.
//
// From the wire: "_o" is the origin and not a parameter; other parameters
// take the string, else the integer, else the double value; float-only and
// array parameters are not read back (15002), unnamed ones are skipped
// (15000). An "_o" without a string value refuses the whole event (15001).

#include <memory>
#include <optional>
#include <string>

#include "measurement/messages/APMPBMessages.h"
#include "measurement/messages/APMPBObject.h"
#include "measurement/storage/APMValue.h"

// The parameters as EventParam wrappers, in the dictionary's order.
// `eventName` only names the event in log lines.
APMPBArray APMPBEventParamsFromParameters(const APMParameters& parameters, const std::string& eventName);

struct APMEventParamsContents {
    std::optional<std::string> origin;  // from "_o"; none when there was no "_o"
    APMParameters parameters;           // without "_o"
};

// None when an "_o" element carries no string value.
[[nodiscard]]
std::optional<APMEventParamsContents> APMParametersFromEventParams(const APMPBArray& eventParams,
                                                                   const std::string& eventName);

// A new Event message for an event's contents.
std::shared_ptr<APMPBEvent> APMPBEventWithContents(const std::string& name, double timestamp,
                                                   double previousTimestamp, const APMParameters& parameters);

struct APMEventContents {
    std::optional<std::string> origin;
    std::string name;          // empty when the message has none
    double timestamp = 0;      // seconds since 1970
    double previousTimestamp = 0;
    APMParameters parameters;  // without "_o"
};

// The contents of an Event message; none when its "_o" is not a string.
[[nodiscard]] std::optional<APMEventContents> APMEventContentsFromProto(const APMPBEvent& event);
