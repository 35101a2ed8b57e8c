#pragma once
// User defaults: a persistent dictionary per domain (the standard domain and
// named suites), kept as one property-list file per domain under the XDG
// config folder. Reads come from memory; every change is written at once,
// atomically (a temporary file renamed over the old one), so an interrupted
// write leaves the previous file intact. Thread-safe.

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/core/PropertyList.h"

namespace platform {

class UserDefaults {
public:
    // What became of a domain file that could not be read.
    struct UnreadableFile {
        std::filesystem::path file;
        // Where it was moved aside ("<file>.unreadable-<UTC time>"); none when
        // it could not be moved, and then changes are never written over it.
        std::optional<std::filesystem::path> movedTo;
    };

    // The domain file is `directory`/`domain`.plist (binary property list); it
    // is read now if present. A file that is not a readable dictionary is
    // moved aside, never overwritten, and the domain starts empty. Temporary
    // files of an interrupted write of this domain are removed. The folder is
    // created on the first write. Throws std::invalid_argument for a domain
    // that is not a plain file name (empty, ".", "..", or holding '/' or NUL).
    UserDefaults(std::string domain, std::filesystem::path directory);

    // The application's standard domain, in the config folder of XdgPaths.
    static std::shared_ptr<UserDefaults> standard();
    // A named suite in the same folder; one instance per name (the standard
    // domain's name answers the standard instance).
    static std::shared_ptr<UserDefaults> suite(const std::string& name);
    // Test hook: forgets the shared instances so that the next call re-reads
    // the (possibly re-pointed) folders.
    static void resetSharedInstancesForTesting();

    const std::string& domain() const { return domain_; }
    std::filesystem::path filePath() const;
    // Set when the constructor found the file unreadable; the caller says so.
    const std::optional<UnreadableFile>& unreadableFile() const { return unreadableFile_; }

    std::optional<PropertyValue> object(const std::string& key) const;
    // Typed reads answer nullopt when the key is absent or of another kind.
    std::optional<bool> boolean(const std::string& key) const;
    std::optional<std::int64_t> integer(const std::string& key) const;
    std::optional<double> real(const std::string& key) const;
    std::optional<std::string> string(const std::string& key) const;
    std::optional<PropertyData> data(const std::string& key) const;
    PropertyDictionary dictionaryRepresentation() const;

    // Changes answer false when the file could not be written; the in-memory
    // value is kept and goes out with the next successful write. A value that
    // cannot be stored in a property list at all (see serializePropertyList)
    // is refused: false, and the domain is left as it was.
    [[nodiscard]] bool set(const std::string& key, PropertyValue value);
    [[nodiscard]] bool remove(const std::string& key);

private:
    // Write the values (or their encoding, `bytes`) over the domain's file,
    // with mutex_ held; false when the file was not written.
    [[nodiscard]] bool persistLocked() const;
    [[nodiscard]] bool writeLocked(const PropertyData& bytes) const;

    void load();
    // False while an unreadable file that could not be moved aside is where
    // this domain writes: it is never written over.
    bool mayWrite() const { return !unreadableFile_ || unreadableFile_->movedTo; }

    std::string domain_;
    std::filesystem::path directory_;
    std::optional<UnreadableFile> unreadableFile_;  // written by the constructor only
    mutable std::mutex mutex_;
    PropertyDictionary values_;
};

}  // namespace platform
