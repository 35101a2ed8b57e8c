#include "VeredodaInstallations/VRDInstallationIDStore.h"

#include <system_error>

#include "VeredodaInstallations/VRDInstallations.h"
#include "platform/core/AtomicFile.h"
#include "platform/core/PropertyList.h"
#include "platform/core/XdgPaths.h"

namespace {

platform::PropertyDictionary readEntries(const std::filesystem::path& file) {
    std::error_code error;
    if (!std::filesystem::exists(file, error)) return {};
    const auto contents = platform::readPropertyListFile(file.string());
    if (!contents || contents->asDictionary() == nullptr) return {};
    return *contents->asDictionary();
}

VULError storageError(const std::string& message) {
    return VULError{kVRDInstallationsErrorDomain, VRDInstallationsErrorCodeStorage, message};
}

}  // namespace

VRDInstallationIDStore::VRDInstallationIDStore(std::filesystem::path file) : file_(std::move(file)) {
    platform::removeStaleTemporaryFiles(file_);
}

std::filesystem::path VRDInstallationIDStore::defaultFile() {
    return platform::applicationSupportDirectory() / "VeredodaInstallations" / "installations.plist";
}

std::optional<std::string> VRDInstallationIDStore::installationID(const std::string& appKey) const {
    const platform::PropertyDictionary entries = readEntries(file_);
    const auto found = entries.find(appKey);
    if (found == entries.end()) return std::nullopt;
    const std::string* installationID = found->second.asString();
    if (installationID == nullptr || installationID->empty()) return std::nullopt;
    return *installationID;
}

std::optional<VULError> VRDInstallationIDStore::setInstallationID(const std::string& installationID,
                                                                  const std::string& appKey) {
    platform::PropertyDictionary entries = readEntries(file_);
    entries.insert_or_assign(appKey, platform::PropertyValue(installationID));
    const std::optional<platform::PropertyData> encoded =
        platform::serializePropertyList(platform::PropertyValue(std::move(entries)), platform::PropertyListFormat::Xml);
    if (!encoded) return storageError("cannot encode the installation IDs");
    if (const std::error_code error = platform::replaceFileAtomically(file_, *encoded)) {
        return storageError("cannot write " + file_.string() + ": " + error.message());
    }
    return std::nullopt;
}
