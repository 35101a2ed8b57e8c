#include "measurement/audiences/APMExperimentModel.h"

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/APMPBFlag.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/RepeatedMessages.h"

// ---------------------------------------------------------------- monitor --

APMEMonitor& APMEMonitor::shared() {
    static APMEMonitor monitor;
    return monitor;
}

void APMEMonitor::logWithLevel(int level, long messageCode, const std::string& message,
                               const std::optional<std::string>& context) {
    if (context) {
        APMMonitor::shared()->log(level, messageCode, message, APMLogContext(*context));
    } else {
        APMMonitor::shared()->log(level, messageCode, message);
    }
}

void APMEMonitor::log(int level, long code, std::string_view message) {
    APMMonitor::shared()->log(level, code, message);
}

void APMEMonitor::log(int level, long code, std::string_view message, const APMLogContext& context) {
    APMMonitor::shared()->log(level, code, message, context);
}

void APMEMonitor::log(int level, long code, std::string_view message, const APMLogContext& context1,
                      const APMLogContext& context2) {
    APMMonitor::shared()->log(level, code, message, context1, context2);
}

void APMEMonitor::log(int level, long code, std::string_view message, const APMLogContext& context1,
                      const APMLogContext& context2, const APMLogContext& context3) {
    APMMonitor::shared()->log(level, code, message, context1, context2, context3);
}

void APMEMonitor::clearMonitoringData() { APMMonitor::shared()->clearMonitoringData(); }

std::string APMEFlagName(const APMPBFlag& flag) { return APMPBGetString(flag, FlagSlot::Name).value_or(""); }

// ------------------------------------------------------------- experiment --

std::shared_ptr<APMEExperiment> APMEExperiment::create(std::int32_t experimentID, const std::vector<APMEFlag>& flags) {
    auto experiment = std::make_shared<APMEExperiment>(experimentID);
    for (const APMEFlag& flag : flags) {
        if (flag == nullptr) {
            APMEMonitor::shared().log(2, 870003, "Cannot add non-flag into the experiment. Flag", "(null)");
            return nullptr;
        }
        experiment->addFlag(flag);
    }
    return experiment;
}

std::shared_ptr<APMEExperiment> APMEExperiment::fromProto(const APMPBExperiment& proto) {
    const std::int32_t experimentID =
        APMPBHasField(proto, ExperimentSlot::ID) ? APMPBGetInt32(proto, ExperimentSlot::ID) : 0;
    std::vector<APMEFlag> flags = APMPBGetMessages<APMPBFlag>(proto, ExperimentSlot::Flags);
    return create(experimentID, flags);
}

std::vector<APMEFlag> APMEExperiment::flags() const {
    std::lock_guard lock(mutex_);
    std::vector<APMEFlag> flags;
    for (const auto& [name, flag] : flagsByName_) flags.push_back(flag);
    return flags;
}

void APMEExperiment::addFlag(const APMEFlag& flag) {
    if (flag == nullptr) {
        APMEMonitor::shared().log(2, 870004, "Cannot add empty flag into an experiment. ID", experimentID_);
        return;
    }
    const std::string name = APMEFlagName(*flag);
    if (name.empty()) {
        APMEMonitor::shared().log(2, 870006, "Cannot add a flag without name into an experiment. ID", experimentID_);
        return;
    }
    std::lock_guard lock(mutex_);
    flagsByName_[name] = flag;
}

APMEFlag APMEExperiment::flagWithName(const std::string& name) const {
    if (name.empty()) {
        APMEMonitor::shared().log(2, 870007, "Cannot retrieve a flag without a flag name");
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    const auto found = flagsByName_.find(name);
    return found == flagsByName_.end() ? nullptr : found->second;
}

std::shared_ptr<APMEExperiment> APMEExperiment::copy() const { return create(experimentID_, flags()); }

std::shared_ptr<APMPBExperiment> APMEExperiment::proto() const {
    auto message = APMPBExperiment::initWithMessageInfo(nullptr);
    APMPBSetInt32(*message, ExperimentSlot::ID, experimentID_);
    APMPBSetArray(*message, ExperimentSlot::Flags, APMPBArrayOfMessages(flags()));
    return message;
}

// --------------------------------------------------------------- snapshot --

std::shared_ptr<APMESnapshot> APMESnapshot::create(const std::string& SDKName,
                                                   const std::vector<std::shared_ptr<APMEExperiment>>& experiments,
                                                   double now) {
    if (SDKName.empty()) {
        APMEMonitor::shared().log(2, 840000, "Cannot create snapshot with an invalid SDK name", SDKName);
        return nullptr;
    }
    auto snapshot = std::make_shared<APMESnapshot>(SDKName, now);
    for (const auto& experiment : experiments) {
        if (experiment == nullptr) {
            APMEMonitor::shared().log(2, 840002, "Cannot create snapshot with an invalid experiment", "(null)");
            return nullptr;
        }
        auto copied = experiment->copy();
        if (copied == nullptr) return nullptr;
        snapshot->experimentsByID_[copied->experimentID()] = std::move(copied);
    }
    return snapshot;
}

std::shared_ptr<APMESnapshot> APMESnapshot::fromProto(const APMPBSnapshot& proto, double now) {
    const std::string name = APMPBGetString(proto, SnapshotSlot::SDKName).value_or("");
    std::vector<std::shared_ptr<APMEExperiment>> experiments;
    for (const auto& message : APMPBGetMessages<APMPBExperiment>(proto, SnapshotSlot::Experiments)) {
        if (auto experiment = APMEExperiment::fromProto(*message)) experiments.push_back(std::move(experiment));
    }
    return create(name, experiments, now);
}

std::vector<std::shared_ptr<APMEExperiment>> APMESnapshot::experiments() const {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<APMEExperiment>> experiments;
    for (const auto& [id, experiment] : experimentsByID_) experiments.push_back(experiment);
    return experiments;
}

APMEFlag APMESnapshot::flagByName(const std::string& name) const {
    for (const auto& experiment : experiments()) {
        if (APMEFlag flag = experiment->flagWithName(name)) return flag;
    }
    return nullptr;
}

void APMESnapshot::addFlag(const APMEFlag& flag, std::optional<std::int32_t> experimentID) {
    if (!experimentID) {
        APMEMonitor::shared().log(2, 840003, "Cannot add flag into empty experiment ID");
        return;
    }
    if (flag == nullptr) {
        APMEMonitor::shared().log(2, 840004, "Cannot add an invalid flag into a snapshot", *experimentID);
        return;
    }
    std::shared_ptr<APMEExperiment> existing;
    {
        std::lock_guard lock(mutex_);
        const auto found = experimentsByID_.find(*experimentID);
        if (found != experimentsByID_.end()) existing = found->second;
    }
    if (existing) {
        existing->addFlag(flag);
        return;
    }
    auto made = APMEExperiment::create(*experimentID, {flag});
    if (made == nullptr) return;
    std::lock_guard lock(mutex_);
    experimentsByID_[*experimentID] = std::move(made);
}

void APMESnapshot::addFlags(const std::vector<APMEFlag>& flags, std::optional<std::int32_t> experimentID) {
    for (const auto& flag : flags) addFlag(flag, experimentID);
}

std::shared_ptr<APMESnapshot> APMESnapshot::copy(double now) const { return create(SDKName_, experiments(), now); }

double APMESnapshot::timestamp() const {
    std::lock_guard lock(mutex_);
    return timestamp_;
}

void APMESnapshot::setTimestamp(double timestamp) {
    std::lock_guard lock(mutex_);
    timestamp_ = timestamp;
}

bool APMESnapshot::manuallyActivated() const {
    std::lock_guard lock(mutex_);
    return manuallyActivated_;
}

void APMESnapshot::setManuallyActivated(bool manuallyActivated) {
    std::lock_guard lock(mutex_);
    manuallyActivated_ = manuallyActivated;
}

std::shared_ptr<APMPBSnapshot> APMESnapshot::proto() const {
    auto message = APMPBSnapshot::initWithMessageInfo(nullptr);
    APMPBSetString(*message, SnapshotSlot::SDKName, SDKName_);
    std::vector<std::shared_ptr<APMPBExperiment>> experimentProtos;
    for (const auto& experiment : experiments()) experimentProtos.push_back(experiment->proto());
    APMPBSetArray(*message, SnapshotSlot::Experiments, APMPBArrayOfMessages(experimentProtos));
    return message;
}

// ----------------------------------------------------------- SDK property --

std::int64_t APMESDKProperty::version() const {
    std::lock_guard lock(mutex_);
    return version_;
}

void APMESDKProperty::setVersion(std::int64_t version) {
    std::lock_guard lock(mutex_);
    version_ = version;
}

std::optional<std::string> APMESDKProperty::appID() const {
    std::lock_guard lock(mutex_);
    return appID_;
}

void APMESDKProperty::setAppID(std::optional<std::string> appID) {
    std::lock_guard lock(mutex_);
    appID_ = std::move(appID);
}

std::string APMESDKProperty::diversionKey() const {
    std::lock_guard lock(mutex_);
    return diversionKey_;
}

void APMESDKProperty::setDiversionKey(std::string key) {
    std::lock_guard lock(mutex_);
    diversionKey_ = std::move(key);
}

APMExperimentProperties APMESDKProperty::customProperties() const {
    std::lock_guard lock(mutex_);
    return customProperties_;
}

void APMESDKProperty::setCustomProperties(APMExperimentProperties properties) {
    std::lock_guard lock(mutex_);
    customProperties_ = std::move(properties);
}

void APMESDKProperty::setDelegate(std::weak_ptr<APMESDKPropertyProviderDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<APMPBClientProperty> APMESDKProperty::proto(const std::string& appDiversionKey) const {
    APMExperimentSDKInfo info;
    std::shared_ptr<APMESDKPropertyProviderDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        info.name = name_;
        info.version = version_;
        info.appID = appID_;
        info.diversionKey = diversionKey_;
        info.customProperties = customProperties_;
        delegate = delegate_.lock();
    }
    // The delegate is asked without the lock held: it may read this property.
    if (delegate) {
        if (auto dynamic = delegate->dynamicCustomPropertiesForSDKProperty(*this)) {
            info.dynamicCustomProperties = std::move(*dynamic);
        }
    }
    return APMPBClientPropertyFromSDKInfo(info, appDiversionKey, APMEMonitor::shared());
}
