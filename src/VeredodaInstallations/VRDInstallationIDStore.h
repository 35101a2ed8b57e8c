#pragma once
// Where installation IDs persist: one property-list file holding a
// dictionary from an app's key to its installation ID. Writes replace the
// file atomically and durably, as the user defaults do
// (platform::replaceFileAtomically); opening the store removes temporary
// files a killed write left. A file that cannot be read or parsed reads as
// holding no IDs. Not thread-safe: the installations service uses it from its
// own queue only.

#include <filesystem>
#include <optional>
#include <string>

#include "VadovaUtilities/VULError.h"

class VRDInstallationIDStore {
public:
    explicit VRDInstallationIDStore(std::filesystem::path file);

    // The file under the application's data folder.
    static std::filesystem::path defaultFile();

    std::optional<std::string> installationID(const std::string& appKey) const;
    // nullopt on success, else why the file could not be written.
    [[nodiscard]]
    std::optional<VULError> setInstallationID(const std::string& installationID, const std::string& appKey);

private:
    std::filesystem::path file_;
};
