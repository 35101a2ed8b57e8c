#include "VeredodaInstallations/VRDInstallationIDStore.h"

#include <fstream>
#include <system_error>

#include "VeredodaInstallations/VRDInstallations.h"
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

VRDInstallationIDStore::VRDInstallationIDStore(std::filesystem::path file) : file_(std::move(file)) {}

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
    const platform::PropertyData& bytes = *encoded;

    std::error_code error;
    std::filesystem::create_directories(file_.parent_path(), error);
    if (error) return storageError("cannot create " + file_.parent_path().string() + ": " + error.message());

    const std::filesystem::path temporary = file_.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::filesystem::remove(temporary, error);
            return storageError("cannot write " + temporary.string());
        }
    }
    std::filesystem::rename(temporary, file_, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return storageError("cannot replace " + file_.string() + ": " + error.message());
    }
    return std::nullopt;
}
