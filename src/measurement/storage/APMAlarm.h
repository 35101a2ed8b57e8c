#pragma once
// APMAlarm: a named one-shot timer whose block runs on one queue. Arming it
// again replaces the pending firing; `scheduledTimestamp` is the wall-clock
// time of the pending firing, cleared when it fires or is cancelled.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/core/Dispatch.h"

class APMAlarm {
public:
    APMAlarm(platform::Dispatcher& dispatcher, platform::QueueRef queue, std::string name);
    ~APMAlarm();
    APMAlarm(const APMAlarm&) = delete;
    APMAlarm& operator=(const APMAlarm&) = delete;

    // Cancels a pending firing, records now + `seconds` as the scheduled time
    // and runs the block once on the queue after `seconds` (at once when zero
    // or less). Logs 2002 (level 7). A missing block logs 2000 (level 1) and
    // changes nothing.
    void runAfterDelay(double seconds, std::function<void()> block);
    // Stops a pending firing and clears the scheduled time; logs 2003 (level
    // 7) when one was pending, else 2004 (level 7).
    void cancel();
    // Seconds since 1970 of the pending firing, or none.
    std::optional<double> scheduledTimestamp() const;

    const std::string& name() const { return name_; }

private:
    struct State;
    platform::Dispatcher& dispatcher_;
    platform::QueueRef queue_;
    std::string name_;
    std::shared_ptr<State> state_;
};
