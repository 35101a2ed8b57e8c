#pragma once
// A dictionary that any thread may use: every operation takes the
// dictionary's own lock, so writes are applied in call order and every read
// sees all writes made before it. Values are copied in and out.

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

template <class Value>
class RAVOvazuveDarizeveve {
public:
    std::optional<Value> objectForKeyedSubscript(std::string_view key) const {
        std::lock_guard lock(mutex_);
        const auto found = entries_.find(key);
        if (found == entries_.end()) return std::nullopt;
        return found->second;
    }

    // A missing value removes the key.
    void setObject(std::optional<Value> value, const std::string& key) {
        std::lock_guard lock(mutex_);
        if (value) {
            entries_.insert_or_assign(key, std::move(*value));
        } else {
            entries_.erase(key);
        }
    }

    void removeObjectForKey(const std::string& key) {
        std::lock_guard lock(mutex_);
        entries_.erase(key);
    }

    void removeAllObjects() {
        std::lock_guard lock(mutex_);
        entries_.clear();
    }

    std::size_t count() const {
        std::lock_guard lock(mutex_);
        return entries_.size();
    }

    // A snapshot of the contents, for enumeration.
    std::map<std::string, Value> dictionary() const {
        std::lock_guard lock(mutex_);
        return {entries_.begin(), entries_.end()};
    }

private:
    mutable std::mutex mutex_;
    // Looked up by any text, without making a string of it.
    std::map<std::string, Value, std::less<>> entries_;
};
