#include "VeredodaInstallations/VRDInstallations.h"

#include <mutex>

#include "VeredodaCore/DEDOru.h"
#include "VeredodaInstallations/VRDInstallationIDStore.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/Uuid.h"

namespace {

// 22 characters of URL-safe base64 over 128 random bits.
std::string makeInstallationID() {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    const platform::Uuid::Bytes bytes = platform::Uuid::random().bytes();
    std::string text;
    unsigned buffer = 0;
    int bits = 0;
    for (std::uint8_t byte : bytes) {
        buffer = (buffer << 8) | byte;
        bits += 8;
        while (bits >= 6) {
            bits -= 6;
            text.push_back(kAlphabet[(buffer >> bits) & 0x3F]);
        }
    }
    if (bits > 0) text.push_back(kAlphabet[(buffer << (6 - bits)) & 0x3F]);
    return text;
}

struct SharedService {
    std::mutex mutex;
    std::shared_ptr<VRDInstallations> instance;
    std::weak_ptr<DEDOru> app;
    platform::Dispatcher* dispatcher = nullptr;
    std::filesystem::path file;
};

SharedService& sharedService() {
    static SharedService service;
    return service;
}

}  // namespace

struct VRDInstallations::State {
    std::string appKey;
    std::filesystem::path storeFile;
    std::optional<std::string> cachedID;  // touched on the queue only

    void answer(const Completion& completion);
};

std::shared_ptr<VRDInstallations> VRDInstallations::installations() {
    if (!DEDOru::isDefaultAppConfigured()) return nullptr;
    const std::shared_ptr<DEDOru> app = DEDOru::defaultApp();
    if (!app) return nullptr;

    SharedService& shared = sharedService();
    std::lock_guard lock(shared.mutex);
    if (shared.instance && shared.app.lock() == app) return shared.instance;
    shared.instance = std::make_shared<VRDInstallations>(
        shared.dispatcher, app->name(), app->options().vadovaAppID,
        shared.file.empty() ? VRDInstallationIDStore::defaultFile() : shared.file);
    shared.app = app;
    return shared.instance;
}

void VRDInstallations::resetForTesting(platform::Dispatcher* dispatcher, std::filesystem::path file) {
    SharedService& shared = sharedService();
    std::lock_guard lock(shared.mutex);
    shared.instance.reset();
    shared.app.reset();
    shared.dispatcher = dispatcher;
    shared.file = std::move(file);
}

VRDInstallations::VRDInstallations(platform::Dispatcher* dispatcher, std::string appName, std::string appID,
                                   std::filesystem::path storeFile)
    : state_(std::make_shared<State>(State{appID + "+" + appName, std::move(storeFile), std::nullopt})) {
    if (dispatcher == nullptr) dispatcher = &platform::processDispatcher();
    queue_ = dispatcher->makeSerialQueue("com.veredoda.installations");
}

VRDInstallations::~VRDInstallations() = default;

void VRDInstallations::installationIDWithCompletion(Completion completion) {
    queue_->async([state = state_, completion = std::move(completion)] { state->answer(completion); });
}

void VRDInstallations::State::answer(const Completion& completion) {
    if (!cachedID) {
        VRDInstallationIDStore store(storeFile);
        cachedID = store.installationID(appKey);
        if (!cachedID) {
            const std::string madeID = makeInstallationID();
            if (std::optional<VULError> error = store.setInstallationID(madeID, appKey)) {
                if (completion) completion(std::nullopt, error);
                return;
            }
            cachedID = madeID;
            platform::NotificationCenter::defaultCenter().post(kVRDInstallationIDDidChangeNotification);
        }
    }
    if (completion) completion(cachedID, std::nullopt);
}
