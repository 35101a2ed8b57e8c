#pragma once
// The outside libraries of on-device conversion measurement, as the engine
// sees them: the ads conversion service and the private-set-membership
// clients. None is part of this system. The host application registers their
// class objects by name in VRDClassRegistry ("ODCConversionService",
// "APMPrivateSetMembershipClient", "ODCPrivateSetMembershipClient",
// "ODCPrivateSetMembershipGroupClient"); a name nobody registered is an absent
// library, and the engine then takes its "not available" paths. Whether a
// class or object answers an optional operation is whether it implements the
// interface that declares it.
//
// Completions of the outside objects may run on any thread; the engine only
// hops from them to its worker queue.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "VadovaUtilities/VULNetwork.h"
#include "VeredodaCore/VRDClassRegistry.h"
#include "measurement/storage/APMError.h"
#include "platform/core/Dispatch.h"
#include "platform/core/PropertyList.h"

// Class names looked up at run time.
inline constexpr const char* kODCConversionServiceClassName = "ODCConversionService";
inline constexpr const char* kAPMPrivateSetMembershipClientClassName = "APMPrivateSetMembershipClient";
inline constexpr const char* kODCPrivateSetMembershipClientClassName = "ODCPrivateSetMembershipClient";
inline constexpr const char* kODCPrivateSetMembershipGroupClientClassName = "ODCPrivateSetMembershipGroupClient";

// Base of objects handed out by outside classes.
class APMRuntimeObject {
public:
    virtual ~APMRuntimeObject() = default;
};

// A class that answers `sharedInstance`.
class APMSharedInstanceClass : public VRDRuntimeClass {
public:
    virtual std::shared_ptr<APMRuntimeObject> sharedInstance() = 0;
};

// MARK: The conversion service

// The protocol the shared service object conforms to.
class ODCConversionService : public virtual APMRuntimeObject {
public:
    using ValueCompletion = std::function<void(std::optional<std::string> value, std::optional<APMError> error)>;
    virtual std::int64_t versionNumber() const = 0;
    virtual std::string versionString() const = 0;
    // Seconds since 1970 of the first app open, or none.
    virtual void setFirstLaunchTime(std::optional<double> seconds) = 0;
    // Interaction 0: first-open measurement; 1: session start.
    virtual void fetchMeasurementInfoForInteraction(std::int64_t interaction, ValueCompletion completion) = 0;
    virtual void resetAndWipeData() = 0;
};

// Optional: group information (a service without it is too old).
class ODCConversionServiceGroupInfo : public virtual APMRuntimeObject {
public:
    virtual void fetchGroupInfoWithCompletion(ODCConversionService::ValueCompletion completion) = 0;
};

// Optional: the two ODF identifiers.
class ODCConversionServiceODF : public virtual APMRuntimeObject {
public:
    virtual void fetchODFAppInstallationIDWithCompletion(std::function<void(std::optional<std::string>)> completion) = 0;
    virtual void fetchODFMatchingIDWithCompletion(ODCConversionService::ValueCompletion completion) = 0;
};

// MARK: Private set membership

// The network object a set-membership request goes through: the context's
// own, made on first use (VULNetwork in a production build).
class APMPSMNetwork {
public:
    virtual ~APMPSMNetwork() = default;
    virtual bool hasUploadInProgress() const = 0;
    virtual void setTimeoutInterval(double seconds) = 0;
    // The completion runs once, on `queue`.
    virtual void postURL(const std::string& URL, const VULData& payload, platform::QueueRef queue,
                         bool usingBackgroundSession, VULNetworkCompletionHandler completion) = 0;
};

// A set-membership client: it normalises and hashes its input, builds the
// request and reads the answer.
class APMPSMClient {
public:
    virtual ~APMPSMClient() = default;
    virtual std::vector<std::uint8_t> hashedInput() const = 0;
    virtual std::int64_t inputType() const = 0;
    virtual std::optional<std::string> PSMRequestURLWithRetryCount(std::int32_t retryCount) = 0;
    // Empty when the request cannot be built.
    virtual VULData payloadWithPSMRequest() = 0;
    // Empty when there is no match.
    virtual std::string parsedPSMValueFromResponse(const VULData& body) = 0;
    // None: the client does not answer `debugKey`.
    virtual std::optional<std::string> debugKey() const { return std::nullopt; }
};

// The client class's initializers.
enum class APMPSMClientInitializer {
    emailAddressWithPrefix,   // initWithEmailAddress:appID:prefixBitLength:
    emailAddress,             // initWithEmailAddress:appID:
    phoneNumberWithPrefix,    // initWithPhoneNumber:appID:prefixBitLength:
    phoneNumber,              // initWithPhoneNumber:appID:
    hashedEmailAddress,       // initWithHashedEmailAddress:appID:prefixBitLength:
    hashedPhoneNumber,        // initWithHashedPhoneNumber:appID:prefixBitLength:
    hashedInput,              // initWithHashedInput:inputType:appID:prefixBitLength:
};

// What an initializer receives; each reads the fields its name gives.
struct APMPSMClientArguments {
    std::string text;                  // e-mail address or phone number
    std::vector<std::uint8_t> bytes;   // digest or cached hashed input
    std::int64_t inputType = 0;
    std::string appID;
    std::int32_t prefixBitLength = 0;
};

class APMPSMClientClass : public VRDRuntimeClass {
public:
    virtual bool instancesRespondTo(APMPSMClientInitializer initializer) const = 0;
    // None when the class lacks the initializer or refuses the input.
    virtual std::shared_ptr<APMPSMClient> makeClient(APMPSMClientInitializer initializer,
                                                     const APMPSMClientArguments& arguments) = 0;
};

class APMPSMGroupClient {
public:
    virtual ~APMPSMGroupClient() = default;
    // Performs its own request through `network`; the completion runs once,
    // on any thread.
    virtual void fetchGroupIDWithNetwork(std::shared_ptr<APMPSMNetwork> network,
                                         std::function<void(std::optional<std::string> groupID,
                                                            std::optional<APMError> error)> completion) = 0;
};

class APMPSMGroupClientClass : public VRDRuntimeClass {
public:
    // initWithHashedInput:inputType:appID:prefixBitLength:
    virtual bool respondsToInitWithHashedInput() const = 0;
    virtual std::shared_ptr<APMPSMGroupClient> makeClient(const APMPSMClientArguments& arguments) = 0;
};

// User data handed to the analytics interface; an absent member is not in
// the dictionary ("email_address", "phone_number", "hashed_email_address",
// "hashed_phone_number").
struct APMUserData {
    std::optional<std::string> emailAddress;
    std::optional<std::string> phoneNumber;
    std::optional<std::vector<std::uint8_t>> hashedEmailAddress;
    std::optional<std::vector<std::uint8_t>> hashedPhoneNumber;
};

// What the engine takes from its surroundings for this work; each empty
// member takes the process's default.
struct APMOnDeviceEnvironment {
    // A fatal configuration error, run on the main queue. Default: throws
    // VRDException(name, reason).
    std::function<void(const std::string& name, const std::string& reason)> raiseFatal;
    // The network of a set-membership context. Default: a VULNetwork.
    std::function<std::shared_ptr<APMPSMNetwork>()> makeNetwork;
    // The process's launch arguments. Default: read from the kernel.
    std::function<std::vector<std::string>()> launchArguments;
    // The application's Info.plist entries. Default: VULMainBundle.
    std::function<std::optional<platform::PropertyValue>(const std::string& key)> infoDictionaryValue;

    // This environment with every empty member given its default.
    APMOnDeviceEnvironment withDefaults() const;
};
