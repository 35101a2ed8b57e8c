#pragma once
// What the engine installs into the layers below it, and the small shared
// records the Parts put beside the engine:
//  - the wire codec the database asks about stored messages (installed),
//  - the storage limits and the validation limits of the configuration,
//  - the engine identity behind APMIdentifiers,
//  - APMRawEventData, protoUserAttribute and APMIsAppActive.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "measurement/interface/APMEvent.h"
#include "measurement/messages/APMPBMessages.h"
#include "measurement/messages/APMWireStoredMessageCodec.h"
#include "measurement/storage/APMDatabaseRecords.h"
#include "measurement/storage/APMUserAttribute.h"

class APMDatabase;
struct APMError;


// Process-wide, once the engine exists: the wire codec, the validation
// limits read from the engine's configuration, and the engine identity
// behind APMIdentifiers. Safe to call more than once.
void APMInstallEngineWiring();
// The storage limits of `configuration` (asked at each use) for this database.
void APMInstallDatabaseWiring(APMDatabase& database,
                              std::function<std::shared_ptr<class APMRemoteConfig>()> configuration);

// One raw event row, its event decoded.
struct APMRawEventData {
    APMEvent rawEvent;
    std::int64_t rowID = 0;
    std::int64_t metadataFingerprint = 0;

    // None, with `*error` set, when the stored event does not decode.
    static std::optional<APMRawEventData> fromRecord(const APMRawEventRecord& record, APMError* error);
};

// The UserAttribute message of a user property.
std::shared_ptr<APMPBUserAttribute> protoUserAttribute(const APMUserAttribute& attribute);

// Whether the application is active: the engine follows the become-active
// and resign-active notifications; the screen-view reporter may install its
// own answer.
bool APMIsAppActive();
void APMSetAppActive(bool active);
void APMSetAppActiveProvider(std::function<bool()> provider);
