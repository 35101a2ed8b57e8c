#include "measurement/audiences/APMExperimentTaskManager.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <limits>

#include "VadovaUtilities/VULAppEnvironmentUtil.h"
#include "VadovaUtilities/VULGzip.h"
#include "VadovaUtilities/VULMainBundle.h"
#include "VeredodaCore/VRDOptions.h"
#include "measurement/interface/APMServiceURL.h"
#include "measurement/messages/ExperimentResponse.h"
#include "measurement/storage/APMFilePaths.h"
#include "measurement/storage/APMScheduler.h"

namespace {

constexpr double kEpsilon = std::numeric_limits<double>::epsilon();
constexpr double kFirstFetchDelay = 10;
constexpr double kBackoffBaseStep = 1800;
constexpr int kBackoffSteps = 6;
constexpr double kMinimumDelay = 0.001;

// The user's preferred language from the locale variables ("en_US.UTF-8"
// becomes "en-US"); none for the C and POSIX locales.
std::vector<std::string> environmentLanguages() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value == nullptr || *value == '\0') continue;
        std::string language(value);
        language = language.substr(0, language.find_first_of(".@"));
        if (language.empty() || language == "C" || language == "POSIX") return {};
        std::replace(language.begin(), language.end(), '_', '-');
        return {language};
    }
    return {};
}

APMExperimentAppInfo defaultAppInfo() {
    APMExperimentAppInfo info;
    info.preferredLanguages = environmentLanguages();
    if (auto identifier = VULMainBundle::objectForInfoDictionaryKey("CFBundleIdentifier")) {
        if (const std::string* text = identifier->asString()) info.bundleID = *text;
    }
    info.fromAppStore = VULAppEnvironmentUtil::isFromAppStore();
    info.clientVersion = APMExperimentClientVersion(kAPMExperimentClientVersionText);
    return info;
}

bool hasGzipHeader(const VULData& body) { return body.size() >= 2 && body[0] == 0x1f && body[1] == 0x8b; }

// CMF (method 8, window at most 32 KiB) and FLG (no preset dictionary) whose
// 16-bit value is a multiple of 31, as every zlib stream begins.
bool hasZlibHeader(const VULData& body) {
    if (body.size() < 2) return false;
    const unsigned cmf = body[0];
    const unsigned flg = body[1];
    return (cmf & 0x0f) == 8 && (cmf >> 4) <= 7 && (flg & 0x20) == 0 && ((cmf << 8) | flg) % 31 == 0;
}

std::string describeStatus(const std::optional<VULError>& error) {
    return error ? error->description() : std::string("(null)");
}

std::string describeSnapshots(const APMESnapshotList& snapshots) {
    std::string text = "[";
    for (const auto& snapshot : snapshots) {
        if (text.size() > 1) text += ", ";
        text += snapshot->SDKName() + " (" + std::to_string(snapshot->experiments().size()) + " experiments)";
    }
    return text + "]";
}

}  // namespace

std::optional<std::string> APMEDefaultExperimentFetchBaseURL() {
    const std::optional<VRDOptions> options = VRDOptions::defaultOptions();
    if (!options || !options->experimentFetchURL || !APMParseServiceURL(*options->experimentFetchURL)) return std::nullopt;
    return options->experimentFetchURL;
}

std::optional<std::string> APMEExperimentFetchURL(const std::string& baseURL) {
    return APMServiceURLWithPath(baseURL, kAPMExperimentFetchPath);
}

// ---------------------------------------------------------- request builder --

std::shared_ptr<APMEExperimentRequestBuilder> APMEExperimentRequestBuilder::sharedInstance() {
    static const auto builder = std::make_shared<APMEExperimentRequestBuilder>();
    return builder;
}

void APMEExperimentRequestBuilder::addSDKProperty(const std::shared_ptr<APMESDKProperty>& property) {
    if (property == nullptr) {
        APMEMonitor::shared().log(2, 880000, "Cannot add an empty SDK property.");
        return;
    }
    std::lock_guard lock(mutex_);
    clientPropertyBySDKName_[property->name()] = property;
}

void APMEExperimentRequestBuilder::setAppInfoProvider(std::function<APMExperimentAppInfo()> provider) {
    std::lock_guard lock(mutex_);
    appInfoProvider_ = std::move(provider);
}

void APMEExperimentRequestBuilder::setDiversionKeyProvider(std::function<std::string()> provider) {
    std::lock_guard lock(mutex_);
    diversionKeyProvider_ = std::move(provider);
}

std::shared_ptr<APMPBAppProperty> APMEExperimentRequestBuilder::appPropertyProto() const {
    std::function<APMExperimentAppInfo()> provider;
    {
        std::lock_guard lock(mutex_);
        provider = appInfoProvider_;
    }
    return APMPBAppPropertyFromInfo(provider ? provider() : defaultAppInfo());
}

std::shared_ptr<APMPBExperimentRequest> APMEExperimentRequestBuilder::request() const {
    std::vector<std::shared_ptr<APMESDKProperty>> properties;
    std::function<std::string()> diversionKeyProvider;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [name, property] : clientPropertyBySDKName_) properties.push_back(property);
        diversionKeyProvider = diversionKeyProvider_;
    }
    const std::string appDiversionKey = diversionKeyProvider ? diversionKeyProvider() : std::string();
    std::vector<std::shared_ptr<APMPBClientProperty>> clientProperties;
    for (const auto& property : properties) clientProperties.push_back(property->proto(appDiversionKey));
    return APMPBExperimentRequestWith(*appPropertyProto(), clientProperties);
}

// ------------------------------------------------------------- task manager --

std::shared_ptr<APMETaskManager> APMETaskManager::create(APMETaskManagerEnvironment environment) {
    return std::make_shared<APMETaskManager>(std::move(environment));
}

namespace {

std::optional<std::string> fetchURLFrom(const APMETaskManagerEnvironment& environment) {
    std::optional<std::string> base = environment.fetchBaseURL;
    if (!base && environment.readFetchBaseURLFromOptions) base = APMEDefaultExperimentFetchBaseURL();
    return base ? APMEExperimentFetchURL(*base) : std::nullopt;
}

std::shared_ptr<VULNetwork> networkFor(const std::optional<std::string>& fetchURL) {
    if (fetchURL) {
        if (auto parsed = APMParseServiceURL(*fetchURL)) return std::make_shared<VULNetwork>(parsed->host);
    }
    return std::make_shared<VULNetwork>();
}

}  // namespace

APMETaskManager::APMETaskManager(APMETaskManagerEnvironment environment)
    : dispatcher_(*environment.dispatcher),
      workerQueue_(dispatcher_.makeSerialQueue("APMExperimentWorkerQueue")),
      alarm_(std::make_unique<APMAlarm>(dispatcher_, workerQueue_, "APMExperimentAlarm")),
      network_(environment.network ? environment.network : networkFor(fetchURLFrom(environment))),
      persistedStorage_(environment.persistedStorage ? environment.persistedStorage
                                                     : std::make_shared<APMUserDefaults>(kAPMExperimentSuiteName)),
      requestBuilder_(environment.requestBuilder ? environment.requestBuilder
                                                 : APMEExperimentRequestBuilder::sharedInstance()),
      databasePath_(environment.databasePath.empty() ? APMMeasurementFilePath(kAPMEDatabaseFileName)
                                                     : environment.databasePath),
      fetchURL_(fetchURLFrom(environment)),
      initializationTimestamp_(dispatcher_.clock().now()) {}

APMETaskManager::~APMETaskManager() { alarm_->cancel(); }

void APMETaskManager::setDelegate(std::weak_ptr<APMETaskManagerDelegate> delegate) {
    std::lock_guard lock(delegateMutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<APMETaskManagerDelegate> APMETaskManager::delegate() const {
    std::lock_guard lock(delegateMutex_);
    return delegate_.lock();
}

void APMETaskManager::dispatchAsyncOnWorkerQueue(std::function<void()> block) {
    workerQueue_->async([block = std::move(block)] {
        try {
            block();
        } catch (const std::exception& exception) {
            APMEMonitor::shared().log(1, 820026, "Exception on async worker queue", exception.what());
        } catch (...) {
            APMEMonitor::shared().log(1, 820026, "Exception on async worker queue", "unknown exception");
        }
    });
}

void APMETaskManager::dispatchSyncOnWorkerQueue(const std::function<void()>& block) {
    auto guarded = [&block] {
        try {
            block();
        } catch (const std::exception& exception) {
            APMEMonitor::shared().log(1, 820027, "Exception on sync worker queue", exception.what());
            throw;
        } catch (...) {
            APMEMonitor::shared().log(1, 820027, "Exception on sync worker queue", "unknown exception");
            throw;
        }
    };
    // A block already on the worker queue (a delegate callback) must not
    // wait for that queue: it would wait on itself.
    if (workerQueue_->isCurrent()) {
        guarded();
        return;
    }
    std::exception_ptr escaped;
    workerQueue_->sync([&] {
        try {
            guarded();
        } catch (...) {
            escaped = std::current_exception();
        }
    });
    if (escaped) std::rethrow_exception(escaped);
}

void APMETaskManager::startTaskManager() {
    std::weak_ptr<APMETaskManager> weak = weak_from_this();
    dispatchAsyncOnWorkerQueue([weak] {
        if (auto self = weak.lock()) self->startTaskManagerOnWorkerQueue();
    });
}

void APMETaskManager::startTaskManagerOnWorkerQueue() {
    (void)APMScheduler::checkOnBackgroundThread("startTaskManagerOnWorkerQueue", dispatcher_);
    database_ = APMEDatabase::open(databasePath_, dispatcher_.clock());
    if (database_ == nullptr) return;
    fetchAllSnapshotsOnWorkerQueue();
    scheduleFetchingExperimentsOnWorkerQueue();
}

void APMETaskManager::fetchAllSnapshotsOnWorkerQueue() {
    (void)APMScheduler::checkOnBackgroundThread("fetchAllSnapshotsOnWorkerQueue", dispatcher_);
    if (database_ == nullptr) return;
    APMEDatabase& database = *database_;
    const bool started = database.performTransaction([&database] {
        APMError error;
        if (!database.deleteStaleActivatedSnapshots(&error)) {
            APMEMonitor::shared().log(1, 820006, "Cannot delete stale activated snapshots. Error", error);
            return false;
        }
        if (!database.activatePendingSnapshotsAutomatically(&error)) {
            APMEMonitor::shared().log(1, 820007, "Cannot activate pending snapshots automatically. Error", error);
            return false;
        }
        return true;
    });
    if (!started) {
        APMEMonitor::shared().log(2, 820008, "Failed to start the task manager");
        return;
    }
    APMEMonitor::shared().log(8, 820009, "Successfully start the task manager");
    auto taskDelegate = delegate();
    if (!taskDelegate) return;
    auto read = [](std::optional<APMESnapshotList> snapshots, const APMError& error, long code, const char* message) {
        if (!snapshots && error.code != 0) APMEMonitor::shared().log(2, code, message, error);
        return snapshots.value_or(APMESnapshotList{});
    };
    APMError activatedError, pendingError, launchedError;
    const APMESnapshotList activated = read(database.fetchAllActivatedSnapshots(&activatedError), activatedError,
                                            820010, "Error in fetching all activated snapshots. Error");
    const APMESnapshotList pending = read(database.fetchAllPendingSnapshots(&pendingError), pendingError, 820011,
                                          "Error in fetching all pending snapshots. Error");
    const APMESnapshotList launched = read(database.fetchAllLaunchedSnapshots(&launchedError), launchedError, 820012,
                                           "Error in fetching all launched snapshots. Error");
    taskDelegate->taskManagerDidStart(activated, pending, launched);
}

double APMETaskManager::fetchTimeFromLastSuccessfulTimestamp(double lastSuccess, double lastFailure) {
    const double current = now();
    const double base = current - std::fabs(lastSuccess - current);
    const double next = base + kAPMExperimentFetchInterval;
    if (!hasMadeInitialFetch()) {
        setHasMadeInitialFetch(true);
        return std::max(next, current + kFirstFetchDelay);
    }
    if (!(lastFailure > 0)) return next;
    // The series starts no earlier than this process: after a success long
    // ago, every step would otherwise lie before the first failure and the
    // process would give up after one attempt.
    double time = base == 0 ? initializationTimestamp() : std::max(next, initializationTimestamp());
    double step = kBackoffBaseStep;
    for (int i = 0; i < kBackoffSteps; ++i, step *= 2) {
        time += step;
        if (time > lastFailure) return time;
    }
    return 0;
}

void APMETaskManager::scheduleFetchingExperimentsOnWorkerQueue() {
    (void)APMScheduler::checkOnBackgroundThread("scheduleFetchingExperimentsOnWorkerQueue", dispatcher_);
    double time = fetchTimeFromLastSuccessfulTimestamp(
        persistedStorage_->doubleForKey(kAPMExperimentFetchSuccessTimestampKey),
        persistedStorage_->doubleForKey(kAPMExperimentFetchFailureTimestampKey));
    if (std::fabs(time) < kEpsilon) {
        persistedStorage_->removeObjectForKey(kAPMExperimentFetchSuccessTimestampKey);
        APMEMonitor::shared().log(2, 820024, "Network attempted too many times. Will not schedule new network.");
        return;
    }
    const double current = now();
    if (const std::optional<double> pending = alarm_->scheduledTimestamp(); pending && *pending != 0 && *pending <= time) {
        APMEMonitor::shared().log(8, 820017,
                                  "Do not schedule a fetch task. Task already exists. Will be executed in seconds",
                                  *pending - current);
        return;
    }
    const double backoff = persistedStorage_->doubleForKey(kAPMExperimentFetchBackoffTimestampKey);
    if (std::fabs(backoff) >= kEpsilon && current - backoff < kAPMExperimentBackoffHold) {
        time = std::max(time, backoff + kAPMExperimentBackoffHold);
    }
    double delay = time - current;
    if (delay < 0 || std::fabs(delay) < kEpsilon) delay = kMinimumDelay;
    std::weak_ptr<APMETaskManager> weak = weak_from_this();
    alarm_->runAfterDelay(delay, [weak] {
        if (auto self = weak.lock()) self->runFetchBlock();
    });
}

void APMETaskManager::runFetchBlock() {
    auto taskDelegate = delegate();
    if (taskDelegate && !taskDelegate->taskManagerShouldFetchExperiments()) {
        postponeFetchExperiments();
    } else {
        fetchExperiments();
    }
}

void APMETaskManager::postponeFetchExperiments() {
    (void)persistedStorage_->setDouble(now(), kAPMExperimentFetchSuccessTimestampKey);
    (void)persistedStorage_->removeObjectForKey(kAPMExperimentFetchFailureTimestampKey);
    (void)persistedStorage_->removeObjectForKey(kAPMExperimentFetchBackoffTimestampKey);
    scheduleFetchingExperimentsOnWorkerQueue();
}

void APMETaskManager::fetchExperiments() {
    // Without a service there is nothing to ask and nothing to retry.
    if (!fetchURL_) {
        APMEMonitor::shared().log(5, 820028, "No experiment service URL. Experiments are not fetched");
        return;
    }
    const auto request = requestBuilder_->request();
    const std::optional<APMPBData> encoded = request->protoBuffer();
    const VULData payload = encoded ? encoded->toVector() : VULData{};
    APMEMonitor::shared().log(8, 820001, "Fetching new experiments. Request",
                              std::to_string(payload.size()) + " bytes");
    std::weak_ptr<APMETaskManager> weak = weak_from_this();
    // The body is read exactly as the server sent it; it is inflated here,
    // after its own header says it is compressed.
    const VULHTTPHeaders headers = {{"Accept-Encoding", "identity"}};
    (void)network_->postURL(*fetchURL_, headers, payload, workerQueue_, false,
                            [weak](const std::optional<VULHTTPResponse>& response, const std::optional<VULData>& data,
                                   const std::optional<VULError>& error) {
                                if (auto self = weak.lock()) self->handleNetworkCompletion(response, data, error);
                            });
}

std::optional<VULData> APMETaskManager::inflatedBody(const VULData& body) {
    if (!hasGzipHeader(body) && !hasZlibHeader(body)) return body;
    VULDataResult inflated = vul_dataByInflatingGzippedData(body);
    if (!inflated.data && inflated.error) {
        APMEMonitor::shared().log(2, 820023, "Cannot inflate downloaded experiment data. Error",
                                  inflated.error->description());
        return std::nullopt;
    }
    return inflated.data;
}

void APMETaskManager::handleNetworkCompletion(const std::optional<VULHTTPResponse>& response,
                                              const std::optional<VULData>& data,
                                              const std::optional<VULError>& error) {
    std::optional<VULData> body;
    if (data) body = inflatedBody(*data);
    handleFetchingExperimentsResponse(response, body, error);
}

void APMETaskManager::removeFetchTimestamps() {
    (void)persistedStorage_->removeObjectForKey(kAPMExperimentFetchBackoffTimestampKey);
    (void)persistedStorage_->removeObjectForKey(kAPMExperimentFetchFailureTimestampKey);
    (void)persistedStorage_->removeObjectForKey(kAPMExperimentFetchSuccessTimestampKey);
}

void APMETaskManager::handleFetchingExperimentsResponse(const std::optional<VULHTTPResponse>& response,
                                                        const std::optional<VULData>& data,
                                                        const std::optional<VULError>& error) {
    const long status = response ? response->statusCode : 0;
    if (status != 200 && status != 204) {
        (void)persistedStorage_->setDouble(now(), kAPMExperimentFetchFailureTimestampKey);
        if (status == 503 || status == 429) {
            (void)persistedStorage_->setDouble(now(), kAPMExperimentFetchBackoffTimestampKey);
        }
        APMEMonitor::shared().log(1, 820002, "Network fetch failed. Will retry later. Code, error", status,
                                  describeStatus(error));
        scheduleFetchingExperimentsOnWorkerQueue();
        return;
    }
    const VULData bytes = data.value_or(VULData{});
    const auto message = APMPBExperimentResponse::initWithBuffer(bytes);
    APMEMonitor::shared().log(8, 820003, "Successful fetch. Got network response. Code, data", status,
                              message ? std::to_string(bytes.size()) + " bytes" : std::string("(null)"));
    (void)persistedStorage_->setDouble(now(), kAPMExperimentFetchSuccessTimestampKey);
    (void)persistedStorage_->removeObjectForKey(kAPMExperimentFetchFailureTimestampKey);
    (void)persistedStorage_->removeObjectForKey(kAPMExperimentFetchBackoffTimestampKey);
    const APMESnapshotList snapshots = experimentSnapshotsFromExperimentResponse(message.get()).value_or(APMESnapshotList{});
    const auto errors = errorsFromExperimentResponse(message.get()).value_or(std::map<std::string, APMError>{});
    if (!snapshots.empty()) {
        APMError storeError{kAPMErrorDomain, 4, "The experiment database is not open"};
        if (database_ == nullptr || !database_->upsertPendingExperimentSnapshots(snapshots, &storeError)) {
            APMEMonitor::shared().log(1, 820022, "Cannot upsert pending snapshots. Error, snapshots", storeError,
                                      describeSnapshots(snapshots));
        }
    }
    if (auto taskDelegate = delegate()) taskDelegate->taskManagerDidFinishFetching(snapshots, errors);
    scheduleFetchingExperimentsOnWorkerQueue();
}

std::optional<APMESnapshotList> APMETaskManager::experimentSnapshotsFromExperimentResponse(
    const APMPBExperimentResponse* response) const {
    auto protos = APMExperimentSnapshotsFromResponse(response, APMEMonitor::shared());
    if (!protos) return std::nullopt;
    APMESnapshotList snapshots;
    for (const auto& proto : *protos) {
        auto snapshot = APMESnapshot::fromProto(*proto, now());
        if (snapshot == nullptr) {
            APMEMonitor::shared().log(2, 820016, "Cannot create a snapshot from the proto");
            continue;
        }
        snapshots.push_back(std::move(snapshot));
    }
    return snapshots;
}

std::optional<std::map<std::string, APMError>> APMETaskManager::errorsFromExperimentResponse(
    const APMPBExperimentResponse* response) {
    return APMExperimentErrorsFromResponse(response);
}

std::optional<APMESnapshotList> APMETaskManager::experimentSnapshotsFromData(const VULData& data) const {
    if (data.empty()) {
        APMEMonitor::shared().log(2, 820025, "Cannot create experiment snapshots from empty data");
        return std::nullopt;
    }
    const auto message = APMPBExperimentResponse::initWithBuffer(data);
    return experimentSnapshotsFromExperimentResponse(message.get());
}

void APMETaskManager::activatePendingSnapshot(const std::shared_ptr<APMESnapshot>& snapshot, double timestamp) {
    std::weak_ptr<APMETaskManager> weak = weak_from_this();
    dispatchAsyncOnWorkerQueue([weak, snapshot, timestamp] {
        auto self = weak.lock();
        if (!self) return;
        if (snapshot == nullptr) {
            APMEMonitor::shared().log(0, 820013, "Cannot activate an empty snapshot");
            return;
        }
        APMError error{kAPMErrorDomain, 4, "The experiment database is not open"};
        APMEDatabase* database = self->database_.get();
        const bool stored = database != nullptr && database->performTransaction([&] {
            return database->activateSnapshot(snapshot, timestamp, &error);
        });
        if (!stored) {
            APMEMonitor::shared().log(1, 820014, "Cannot activate snapshot for SDK Name. Error", snapshot->SDKName(),
                                      error);
        }
    });
}

void APMETaskManager::resetToDefaultsForSDKName(const std::string& SDKName) {
    std::weak_ptr<APMETaskManager> weak = weak_from_this();
    dispatchAsyncOnWorkerQueue([weak, SDKName] {
        auto self = weak.lock();
        if (!self) return;
        if (SDKName.empty()) {
            APMEMonitor::shared().log(1, 820018, "Cannot reset to defaults for empty SDK name");
            return;
        }
        APMError error{kAPMErrorDomain, 4, "The experiment database is not open"};
        if (self->database_ == nullptr || !self->database_->deleteActivatedExperimentsOfSDKName(SDKName, &error)) {
            APMEMonitor::shared().log(1, 820019, "Cannot reset to defaults in the database. SDK Name, error", SDKName,
                                      error);
        }
    });
}

void APMETaskManager::upsertPendingSnapshots(const APMESnapshotList& snapshots) {
    std::weak_ptr<APMETaskManager> weak = weak_from_this();
    dispatchAsyncOnWorkerQueue([weak, snapshots] {
        auto self = weak.lock();
        if (!self) return;
        if (snapshots.empty()) {
            APMEMonitor::shared().log(2, 820020, "Cannot upsert empty pending snapshot list");
            return;
        }
        APMError error{kAPMErrorDomain, 4, "The experiment database is not open"};
        if (self->database_ == nullptr || !self->database_->upsertPendingExperimentSnapshots(snapshots, &error)) {
            APMEMonitor::shared().log(1, 820021, "Cannot upsert pending snapshots into the database. Error", error);
            return;
        }
        if (auto taskDelegate = self->delegate()) taskDelegate->taskManagerDidUpsertPendingSnapshots(snapshots);
    });
}

void APMETaskManager::reset() {
    std::weak_ptr<APMETaskManager> weak = weak_from_this();
    dispatchAsyncOnWorkerQueue([weak] {
        auto self = weak.lock();
        if (!self) return;
        if (self->database_) self->database_->reset();
        self->removeFetchTimestamps();
        self->scheduleFetchingExperimentsOnWorkerQueue();
    });
}

void APMETaskManager::clearAndDelete() {
    std::weak_ptr<APMETaskManager> weak = weak_from_this();
    dispatchAsyncOnWorkerQueue([weak] {
        auto self = weak.lock();
        if (!self) return;
        if (self->database_) self->database_->closeAndDelete();
        self->removeFetchTimestamps();
    });
}
