#pragma once
// Fixtures of the measurement-database tests: a stand-in for the message
// layer's codec over a readable text form, and a database in a private
// temporary folder on a virtual clock.

#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "StorageTestSupport.h"
#include "measurement/storage/APMDatabase.h"
#include "measurement/storage/APMStoredMessageCodec.h"
#include "platform/core/Clock.h"

namespace storage_test {

inline APMBytes bytesOf(const std::string& text) { return APMBytes(text.begin(), text.end()); }

// Messages as "<kind>|key=value;key=value;". Anything else does not decode.
class TextMessageCodec final : public APMStoredMessageCodec {
public:
    using Fields = std::map<std::string, std::string>;

    static APMBytes encode(const std::string& kind, const Fields& fields) {
        std::string text = kind + "|";
        for (const auto& [key, value] : fields) text += key + "=" + value + ";";
        return bytesOf(text);
    }
    static std::optional<Fields> decode(const std::string& kind, const APMBytes& bytes) {
        std::string text(bytes.begin(), bytes.end());
        if (text.rfind(kind + "|", 0) != 0) return std::nullopt;
        Fields fields;
        std::istringstream rest(text.substr(kind.size() + 1));
        std::string pair;
        while (std::getline(rest, pair, ';')) {
            auto equals = pair.find('=');
            if (equals == std::string::npos) return std::nullopt;
            fields[pair.substr(0, equals)] = pair.substr(equals + 1);
        }
        return fields;
    }

    std::optional<APMBundleFacts> bundleFacts(const APMBytes& encoded) const override {
        auto fields = decode("bundle", encoded);
        if (!fields) return std::nullopt;
        APMBundleFacts facts;
        facts.hasAppID = !(*fields)["app"].empty();
        if (fields->count("end")) facts.endTimestamp = std::stoll(fields->at("end"));
        if (fields->count("retry")) facts.retryCount = std::stoi(fields->at("retry"));
        facts.eventCount = fields->count("events") ? std::stoul(fields->at("events")) : 0;
        return facts;
    }
    std::optional<APMBytes> bundleWithRetryCount(const APMBytes& encoded, std::int32_t retryCount) const override {
        auto fields = decode("bundle", encoded);
        if (!fields) return std::nullopt;
        (*fields)["retry"] = std::to_string(retryCount);
        return encode("bundle", *fields);
    }
    std::optional<std::string> measurementConfigAppID(const APMBytes& encoded) const override {
        auto fields = decode("config", encoded);
        if (!fields) return std::nullopt;
        return (*fields)["app"];
    }
    std::optional<APMFilterFlags> eventFilterFlags(const APMBytes& encoded) const override { return flags(encoded); }
    std::optional<APMFilterFlags> propertyFilterFlags(const APMBytes& encoded) const override { return flags(encoded); }

private:
    static std::optional<APMFilterFlags> flags(const APMBytes& encoded) {
        auto fields = decode("filter", encoded);
        if (!fields) return std::nullopt;
        return APMFilterFlags{(*fields)["session"] == "1", (*fields)["dynamic"] == "1", (*fields)["sequence"] == "1"};
    }
};

// A bundle of the text form with the given fields.
inline APMBytes bundle(const TextMessageCodec::Fields& fields) { return TextMessageCodec::encode("bundle", fields); }

// A database in a temporary folder, with the text codec installed and the
// monitor's lines kept.
class DatabaseTest : public ::testing::Test {
protected:
    DatabaseTest() { APMStoredMessageCodec::install(std::make_shared<TextMessageCodec>()); }
    ~DatabaseTest() override { APMStoredMessageCodec::install(nullptr); }

    std::string path() const { return (folder_.path() / "measurement.sql").string(); }
    APMDatabase& db() {
        if (!database_) reopen();
        return *database_;
    }
    void reopen() {
        database_.reset();
        APMError error;
        database_ = APMDatabase::openAtPath(path(), &error, &clock_);
        ASSERT_TRUE(database_) << error.text();
    }
    void close() { database_.reset(); }
    // Rows of a raw SQL query through a second connection.
    std::int64_t count(const std::string& table) {
        APMError error;
        auto store = APMSqliteStore::open(path(), &error);
        auto row = store->firstRow("SELECT COUNT(*) AS n FROM " + table, {});
        return row.value ? row.value->integer("n").value_or(-1) : -1;
    }

    TemporaryFolder folder_;
    MonitorCapture monitor_;
    platform::VirtualClock clock_{1.7e9};
    std::unique_ptr<APMDatabase> database_;
};

}  // namespace storage_test
