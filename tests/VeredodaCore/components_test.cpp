// Libraries registering with the core, and the components they offer.
#include <gtest/gtest.h>

#include "CoreTestSupport.h"
#include "VeredodaCore/VRDComponent.h"

namespace {

struct Interop {
    virtual ~Interop() = default;
    virtual int answer() const = 0;
};
struct Connector final : Interop {
    int answer() const override { return 42; }
};
struct UnofferedInterop {
    virtual ~UnofferedInterop() = default;
};

struct FakeLibrary final : VRDLibrary {
    mutable int made = 0;
    std::vector<VRDComponent> componentsToRegister() const override {
        return {VRDComponent::componentWithProtocol<Interop>([this]() -> std::shared_ptr<Interop> {
            ++made;
            return std::make_shared<Connector>();
        })};
    }
};

class Components : public CoreTest {
protected:
    std::shared_ptr<DEDOru> configuredApp() {
        writeServiceInfo({{"VADOVA_APP_ID", platform::PropertyValue("1:1:macos:1")}});
        DEDOru::configure();
        return DEDOru::defaultApp();
    }
};

TEST_F(Components, ARegisteredLibrarySuppliesOneInstancePerProtocol) {
    auto library = std::make_shared<FakeLibrary>();
    DEDOru::registerInternalLibrary(library, "veredoda-analytics", "12.18.0");
    EXPECT_EQ(DEDOru::registeredLibraryVersion("veredoda-analytics"), "12.18.0");

    const auto app = configuredApp();
    const auto first = app->instanceForProtocol<Interop>();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->answer(), 42);
    EXPECT_EQ(app->instanceForProtocol<Interop>(), first);
    EXPECT_EQ(library->made, 1);
    EXPECT_EQ(app->instanceForProtocol<UnofferedInterop>(), nullptr);
}

TEST_F(Components, LibrariesMayRegisterAfterTheAppWasConfigured) {
    const auto app = configuredApp();
    EXPECT_EQ(app->instanceForProtocol<Interop>(), nullptr);
    DEDOru::registerInternalLibrary(std::make_shared<FakeLibrary>(), "veredoda-analytics", "12.18.0");
    EXPECT_NE(app->instanceForProtocol<Interop>(), nullptr);
}

TEST_F(Components, ClassesAreFoundByNameAndByWhatTheyImplement) {
    auto library = std::make_shared<FakeLibrary>();
    VRDClassRegistry& registry = VRDClassRegistry::shared();
    registry.registerClass("RADOdodavazi", library);
    EXPECT_EQ(registry.classNamed("RADOdodavazi"), library);
    EXPECT_EQ(registry.classNamed<VRDLibrary>("RADOdodavazi"), library);
    EXPECT_EQ(registry.classNamed("RUDODudidada"), nullptr);
    registry.registerClass("RADOdodavazi", nullptr);  // unregisters
    EXPECT_EQ(registry.classNamed("RADOdodavazi"), nullptr);
}

}  // namespace
