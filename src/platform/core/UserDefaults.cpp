#include "platform/core/UserDefaults.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <map>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "platform/core/AtomicFile.h"
#include "platform/core/XdgPaths.h"

namespace platform {
namespace {

const char* const kStandardDomain = "Mossbridge";

// A domain names a file in the defaults folder, so it must stay a plain name.
void requireFileName(const std::string& domain) {
    if (domain.empty() || domain == "." || domain == ".." || domain.find('/') != std::string::npos ||
        domain.find('\0') != std::string::npos) {
        throw std::invalid_argument("UserDefaults: invalid domain name \"" + domain + "\"");
    }
}

std::optional<PropertyData> encodeDomain(const PropertyDictionary& values) {
    return serializePropertyList(PropertyValue(values), PropertyListFormat::Binary);
}

// "<file>.unreadable-<UTC time>", with a number added when that is taken.
// None when the file could not be moved.
std::optional<std::filesystem::path> moveAside(const std::filesystem::path& file) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    const std::string base = file.string() + ".unreadable-" + stamp;
    for (int attempt = 1; attempt <= 100; ++attempt) {
        const std::string aside = attempt == 1 ? base : base + "-" + std::to_string(attempt);
        // A hard link never replaces an existing name, so nothing is lost to a clash.
        if (::link(file.c_str(), aside.c_str()) == 0) {
            if (::unlink(file.c_str()) == 0) return aside;
            ::unlink(aside.c_str());
            return std::nullopt;
        }
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

struct SharedInstances {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<UserDefaults>> byDomain;
};

SharedInstances& sharedInstances() {
    static SharedInstances instances;
    return instances;
}

std::shared_ptr<UserDefaults> sharedInstance(const std::string& domain) {
    auto& shared = sharedInstances();
    std::lock_guard lock(shared.mutex);
    auto& instance = shared.byDomain[domain];
    if (!instance) instance = std::make_shared<UserDefaults>(domain, userDefaultsDirectory());
    return instance;
}

}  // namespace

UserDefaults::UserDefaults(std::string domain, std::filesystem::path directory)
    : domain_(std::move(domain)), directory_(std::move(directory)) {
    requireFileName(domain_);
    removeStaleTemporaryFiles(filePath());
    load();
}

void UserDefaults::load() {
    const std::filesystem::path file = filePath();
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) return;
    auto contents = readPropertyListFile(file.string());
    if (auto* dictionary = contents ? contents->asDictionary() : nullptr) {
        values_ = std::move(*dictionary);
        return;
    }
    unreadableFile_ = UnreadableFile{file, moveAside(file)};
}

std::shared_ptr<UserDefaults> UserDefaults::standard() { return sharedInstance(kStandardDomain); }

std::shared_ptr<UserDefaults> UserDefaults::suite(const std::string& name) {
    requireFileName(name);
    return sharedInstance(name);
}

void UserDefaults::resetSharedInstancesForTesting() {
    auto& shared = sharedInstances();
    std::lock_guard lock(shared.mutex);
    shared.byDomain.clear();
}

std::filesystem::path UserDefaults::filePath() const { return directory_ / (domain_ + ".plist"); }

std::optional<PropertyValue> UserDefaults::object(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

std::optional<bool> UserDefaults::boolean(const std::string& key) const {
    auto value = object(key);
    return value ? value->asBoolean() : std::nullopt;
}

std::optional<std::int64_t> UserDefaults::integer(const std::string& key) const {
    auto value = object(key);
    return value ? value->asInteger() : std::nullopt;
}

std::optional<double> UserDefaults::real(const std::string& key) const {
    auto value = object(key);
    return value ? value->asReal() : std::nullopt;
}

std::optional<std::string> UserDefaults::string(const std::string& key) const {
    auto value = object(key);
    if (!value || value->asString() == nullptr) return std::nullopt;
    return *value->asString();
}

std::optional<PropertyData> UserDefaults::data(const std::string& key) const {
    auto value = object(key);
    if (!value || value->asData() == nullptr) return std::nullopt;
    return *value->asData();
}

PropertyDictionary UserDefaults::dictionaryRepresentation() const {
    std::lock_guard lock(mutex_);
    return values_;
}

bool UserDefaults::set(const std::string& key, PropertyValue value) {
    std::lock_guard lock(mutex_);
    std::optional<PropertyValue> previous;
    if (auto it = values_.find(key); it != values_.end()) previous = std::move(it->second);
    values_.insert_or_assign(key, std::move(value));
    auto bytes = encodeDomain(values_);
    if (!bytes) {
        // The value (or key) cannot be stored at all; keeping it would make
        // every later write of this domain fail as well.
        if (previous) {
            values_.insert_or_assign(key, std::move(*previous));
        } else {
            values_.erase(key);
        }
        return false;
    }
    return writeLocked(*bytes);
}

bool UserDefaults::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    if (values_.erase(key) == 0) return true;
    return persistLocked();
}

bool UserDefaults::persistLocked() const {
    const auto bytes = encodeDomain(values_);
    return bytes && writeLocked(*bytes);
}

bool UserDefaults::writeLocked(const PropertyData& bytes) const {
    if (!mayWrite()) return false;
    const std::error_code error = replaceFileAtomically(filePath(), bytes);
    return !error;
}

}  // namespace platform
