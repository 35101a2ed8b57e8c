#pragma once
// APMUserDefaults: the measurement library's key-value store over the
// platform's user defaults, one per suite (an empty suite name means the
// application's own domain). Values are property-list objects: string,
// number (Boolean, integer, real), array, dictionary, date or data. Keys
// must not be empty. Thread-safe; every change is written at once.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "measurement/storage/APMValue.h"
#include "platform/core/PropertyList.h"

namespace platform {
class UserDefaults;
}

class APMUserDefaults {
public:
    explicit APMUserDefaults(const std::string& suiteName = {});
    // Over an explicit store (tests, or a domain file elsewhere).
    explicit APMUserDefaults(std::shared_ptr<platform::UserDefaults> store);

    // One instance on the application's domain.
    static std::shared_ptr<APMUserDefaults> sharedUserDefaults();
    // Test hook: the next sharedUserDefaults() makes a new instance.
    static void resetSharedForTesting();

    // The stored value, or none; an empty key logs 41001 (level 1).
    std::optional<platform::PropertyValue> objectForKey(const std::string& key) const;
    // None when absent or of another kind.
    std::optional<std::string> stringForKey(const std::string& key) const;
    std::optional<platform::PropertyValue> numberForKey(const std::string& key) const;
    // A Boolean or a non-zero number; false otherwise.
    bool boolForKey(const std::string& key) const;
    // The number (Booleans count as 0 and 1), or 0.
    std::int64_t integerForKey(const std::string& key) const;
    double doubleForKey(const std::string& key) const;

    // Stores a property-list value; a missing value removes the key. An empty
    // key logs 41002, any other object (an APMValue) 41003, both level 1, and
    // nothing changes. Answers whether the value was stored.
    bool setObject(const APMObject* value, const std::string& key);
    bool setObject(const platform::PropertyValue& value, const std::string& key);
    bool setBool(bool value, const std::string& key);
    bool setInteger(std::int64_t value, const std::string& key);
    bool setDouble(double value, const std::string& key);
    bool removeObjectForKey(const std::string& key);
    // Removes every key of the suite.
    void clearAllData();

private:
    std::shared_ptr<platform::UserDefaults> store_;
};
