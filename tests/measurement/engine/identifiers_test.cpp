// APMIdentifiers: origin, ad event IDs, the identity they read, and the Vadova
// app ID that is taken once per process.

#include "EngineTestSupport.h"
#include "measurement/interface/APMIdentifiers.h"

namespace engine_test {
namespace {

class Identifiers : public EngineFixture {
protected:
    ~Identifiers() override { APMIdentifiers::resetForTesting(); }
};

TEST_F(Identifiers, OriginKeepsItsValueOnAnEmptyOneAndAdEventIDsCountUp) {
    auto& identifiers = APMIdentifiers::sharedInstance();
    identifiers.setOrigin("fa");
    identifiers.setOrigin("");
    EXPECT_EQ(identifiers.origin(), "fa");
    EXPECT_EQ(monitor.linesWithCode(37004).size(), 1u);
    const long long first = std::stoll(identifiers.adEventID());
    EXPECT_EQ(std::stoll(identifiers.adEventID()), first + 1);
    EXPECT_EQ(identifiers.libraryVersion(), "121800");
}

TEST_F(Identifiers, MissingIDsAreEmptyAndLogged) {
    APMIdentity::setSharedInstance(APMIdentity::create(dispatcher, persisted, nullptr, nullptr));
    EXPECT_EQ(APMIdentifiers::sharedInstance().vadovaAppID(), "");
    EXPECT_EQ(monitor.linesWithCode(37000).size(), 1u);
    EXPECT_EQ(monitor.linesWithCode(37001).size(), 1u);
}

TEST_F(Identifiers, TheVadovaAppIDIsTakenOncePerProcessEvenByALaterIdentity) {
    auto first = APMIdentity::create(dispatcher, persisted, nullptr, nullptr);
    first->setAppIDFromVAZ("1:1:macos:first");
    dispatcher.drain();
    auto later = APMIdentity::create(dispatcher, persisted, nullptr, nullptr);
    later->setAppIDFromVAZ("1:1:macos:second");
    dispatcher.drain();
    EXPECT_EQ(later->appIDFromVAZ(), "1:1:macos:first");
    APMIdentity::setSharedInstance(later);
    EXPECT_EQ(APMIdentifiers::sharedInstance().vadovaAppID(), "1:1:macos:first");
}

TEST_F(Identifiers, WithFaOriginTheStartAppIDIsPersisted) {
    APMIdentifiers::sharedInstance().setOrigin("fa");
    start();
    EXPECT_EQ(persisted->appIDFromVAZ(), kAppID);
}

}  // namespace
}  // namespace engine_test
