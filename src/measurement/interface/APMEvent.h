#pragma once
// APMEvent: one measurement event (origin, name, timestamps in seconds since
// 1970, typed parameters). It is built only through initWithOrigin, which
// refuses an invalid origin or name and sanitises the parameters (invalid ones
// are dropped and reported in "_err", "_ev", "_el"); the parameters always
// hold "_o", the origin. The flags conversion ("_c"), realtime ("_r") and
// debug ("_dbg") live among the parameters as the integer 1. Whether the event
// was public only chooses the rules at creation: every copy is internal.
// Not locked: built on one queue, then handed on.

#include <memory>
#include <optional>
#include <string>

#include "measurement/interface/APMObjectParameters.h"
#include "measurement/messages/APMPBMessages.h"
#include "measurement/messages/APMPBObject.h"
#include "measurement/storage/APMDiagnosticsCounts.h"
#include "measurement/storage/APMValue.h"

class APMEvent {
public:
    // None when the origin (an internal name, or one followed by "+vtm") or
    // the name (public or internal rules) is refused; the validator logs why.
    [[nodiscard]]
    static std::optional<APMEvent> initWithOrigin(const std::string& origin, bool isPublic, const std::string& name,
                                                  double timestamp, double previousTimestamp,
                                                  const APMObjectParameters& parameters);
    // From the wire: "_o" becomes the origin (none when "_o" has no string),
    // array parameters do not come back. See protoEvent.
    [[nodiscard]] static std::optional<APMEvent> initWithEventProto(const APMPBEvent& proto);

    // Copies go through initWithOrigin as internal events. copy and
    // copyWithPreviousTimestamp keep a copy of the counters,
    // copyWithParameters starts new ones.
    APMEvent copy() const;
    APMEvent copyWithPreviousTimestamp(double previousTimestamp) const;
    APMEvent copyWithParameters(const APMObjectParameters& parameters) const;

    const std::string& origin() const { return origin_; }
    const std::string& name() const { return name_; }
    double timestamp() const { return timestamp_; }
    double previousTimestamp() const { return previousTimestamp_; }
    const APMParameters& parameters() const { return parameters_; }
    const APMDiagnosticsCounts& diagnosticsCounts() const { return diagnosticsCounts_; }
    void setDiagnosticsCounts(APMDiagnosticsCounts counts) { diagnosticsCounts_ = std::move(counts); }

    // YES sets "_c" only when the value-and-currency rule passes, and then
    // withdraws an "_err" of 10; NO on a conversion records error 10.
    bool isConversion() const;
    void setConversion(bool conversion);
    // A "_r" that is not an integer logs 16006 and reads NO.
    bool isRealtime() const;
    void setRealtime(bool realtime);
    bool isDebug() const;
    void setDebug(bool debug);

    // A conversion, "ad_impression" or "_ai".
    bool shouldValidateParams() const;
    // "in_app_purchase" or "_iap" logged by an origin that begins with "app".
    bool shouldRequireValueParam() const;

    // Adds the sanitised `parameters`; an existing parameter is never replaced.
    void applyParameters(const APMObjectParameters& parameters, bool isPublic);
    // Adds "_si" (required, a number) and the optional "_sc" and "_sn" (valid
    // screen strings) when the event has none of the three yet.
    bool addScreenParameters(const APMObjectParameters& screenParameters);

    // What the rule engine sees of the event: its public name (the name itself
    // when it has none), its timestamp and its parameters as plain objects
    // (doubles, integers, strings, and at the top level arrays of item
    // dictionaries).
    std::string editEventName() const;
    APMObjectParameters editEventParameters() const;
    // The event back from the rule engine: internal name, origin from a string
    // "_o" (else "app"), parameters sanitised again as an internal event.
    [[nodiscard]]
    static std::optional<APMEvent> eventFromEditEvent(const std::string& name, double timestamp,
                                                      const APMObjectParameters& parameters);

    // The wire message: times in milliseconds (truncated, saturating), the
    // previous time only when above 2^-52 s, one EventParam per parameter.
    std::shared_ptr<APMPBEvent> protoEvent() const;

private:
    APMEvent() = default;
    APMEvent copyWith(double previousTimestamp, const APMObjectParameters& parameters) const;

    APMParameters parameters_;
    std::string origin_;
    std::string name_;
    double timestamp_ = 0;
    double previousTimestamp_ = 0;
    APMDiagnosticsCounts diagnosticsCounts_;
};

// True when an EventParam named `name` is among `params` (APMPBEventParam
// wrappers); it then logs 23156 (level 4).
bool APMEventParamArrayContainsName(const APMPBArray& params, const std::string& name);
