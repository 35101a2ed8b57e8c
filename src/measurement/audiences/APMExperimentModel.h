#pragma once
// The experimentation client's objects:
//  - APMEMonitor: the client's logger, forwarding every line unchanged to the
//    measurement monitor (it is also the logger the flag functions take);
//  - APMEExperiment: one experiment, its ID and its flags by name;
//  - APMESnapshot: the experiments of one SDK at one time, with its manual-
//    activation mark, and their wire form;
//  - APMESDKProperty: what an SDK declares about itself for the request.
//
// Threads: an experiment's flags and a snapshot's experiments, timestamp and
// mark are guarded by the object's own mutex, so copies handed between the
// manager's queue and the fetch scheduler's queue can be read from either.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "measurement/messages/APMPBMessages.h"
#include "measurement/messages/APMPBObject.h"
#include "measurement/messages/ExperimentLogger.h"
#include "measurement/messages/ExperimentRequest.h"
#include "measurement/storage/APMMonitor.h"

using APMEFlag = std::shared_ptr<APMPBFlag>;

class APMEMonitor final : public ExperimentLogger {
public:
    // The one logger of the experiment classes.
    static APMEMonitor& shared();

    void logWithLevel(int level, long messageCode, const std::string& message,
                      const std::optional<std::string>& context) override;
    void log(int level, long code, std::string_view message);
    void log(int level, long code, std::string_view message, const APMLogContext& context);
    void log(int level, long code, std::string_view message, const APMLogContext& context1,
             const APMLogContext& context2);
    void log(int level, long code, std::string_view message, const APMLogContext& context1,
             const APMLogContext& context2, const APMLogContext& context3);
    void clearMonitoringData();
};

// The name of a flag, empty when it has none.
std::string APMEFlagName(const APMPBFlag& flag);

class APMEExperiment {
public:
    // Null (870003) when a flag is missing.
    static std::shared_ptr<APMEExperiment> create(std::int32_t experimentID, const std::vector<APMEFlag>& flags);
    // ID from tag 1 (0 when absent), flags from tag 2.
    static std::shared_ptr<APMEExperiment> fromProto(const APMPBExperiment& proto);

    std::int32_t experimentID() const { return experimentID_; }
    // Every flag, ordered by name.
    std::vector<APMEFlag> flags() const;
    // A later flag of the same name replaces an earlier one. A missing flag
    // logs 870004, a flag without a name 870006.
    void addFlag(const APMEFlag& flag);
    // Null for an unknown name; an empty name logs 870007.
    APMEFlag flagWithName(const std::string& name) const;
    std::shared_ptr<APMEExperiment> copy() const;
    std::shared_ptr<APMPBExperiment> proto() const;

    explicit APMEExperiment(std::int32_t experimentID) : experimentID_(experimentID) {}

private:
    const std::int32_t experimentID_;
    mutable std::mutex mutex_;
    std::map<std::string, APMEFlag> flagsByName_;  // guarded by mutex_
};

class APMESnapshot {
public:
    // Null when the SDK name is empty (840000) or an experiment is missing
    // (840002). Experiments are copied; a later one with the same ID replaces
    // an earlier one. `now` is the snapshot's timestamp.
    static std::shared_ptr<APMESnapshot> create(const std::string& SDKName,
                                                const std::vector<std::shared_ptr<APMEExperiment>>& experiments,
                                                double now);
    // SDK name from tag 1, the experiments of tag 2.
    static std::shared_ptr<APMESnapshot> fromProto(const APMPBSnapshot& proto, double now);

    const std::string& SDKName() const { return SDKName_; }
    // Ordered by experiment ID.
    std::vector<std::shared_ptr<APMEExperiment>> experiments() const;
    // The first flag of that name among the experiments (lowest ID first).
    APMEFlag flagByName(const std::string& name) const;
    // A missing ID logs 840003, a missing flag 840004; nothing is added then.
    void addFlag(const APMEFlag& flag, std::optional<std::int32_t> experimentID);
    void addFlags(const std::vector<APMEFlag>& flags, std::optional<std::int32_t> experimentID);
    // Same name and experiments, timestamp `now`, no manual mark.
    std::shared_ptr<APMESnapshot> copy(double now) const;

    double timestamp() const;
    void setTimestamp(double timestamp);
    bool manuallyActivated() const;
    void setManuallyActivated(bool manuallyActivated);
    // Tag 1 the SDK name, tag 2 every experiment's proto.
    std::shared_ptr<APMPBSnapshot> proto() const;

    APMESnapshot(std::string SDKName, double timestamp) : SDKName_(std::move(SDKName)), timestamp_(timestamp) {}

private:
    const std::string SDKName_;
    mutable std::mutex mutex_;
    std::map<std::int32_t, std::shared_ptr<APMEExperiment>> experimentsByID_;  // guarded by mutex_
    double timestamp_;                                                          // guarded by mutex_
    bool manuallyActivated_ = false;                                            // guarded by mutex_
};

using APMESnapshotList = std::vector<std::shared_ptr<APMESnapshot>>;

class APMESDKProperty;

// Supplies custom properties at request time, laid over the SDK's own.
class APMESDKPropertyProviderDelegate {
public:
    virtual ~APMESDKPropertyProviderDelegate() = default;
    virtual std::optional<APMExperimentProperties> dynamicCustomPropertiesForSDKProperty(
        const APMESDKProperty& property) = 0;
};

class APMESDKProperty {
public:
    explicit APMESDKProperty(std::string name) : name_(std::move(name)) {}

    const std::string& name() const { return name_; }
    std::int64_t version() const;
    void setVersion(std::int64_t version);
    std::optional<std::string> appID() const;
    void setAppID(std::optional<std::string> appID);
    // Empty: the app instance's diversion key is used.
    std::string diversionKey() const;
    void setDiversionKey(std::string key);
    APMExperimentProperties customProperties() const;
    void setCustomProperties(APMExperimentProperties properties);
    void setDelegate(std::weak_ptr<APMESDKPropertyProviderDelegate> delegate);

    // The ClientProperty of this SDK; null (860001) when neither the property
    // nor `appDiversionKey` has a diversion key.
    std::shared_ptr<APMPBClientProperty> proto(const std::string& appDiversionKey) const;

private:
    const std::string name_;
    mutable std::mutex mutex_;
    std::int64_t version_ = 0;                                    // guarded by mutex_
    std::optional<std::string> appID_;                            // guarded by mutex_
    std::string diversionKey_;                                    // guarded by mutex_
    APMExperimentProperties customProperties_;                    // guarded by mutex_
    std::weak_ptr<APMESDKPropertyProviderDelegate> delegate_;     // guarded by mutex_
};
