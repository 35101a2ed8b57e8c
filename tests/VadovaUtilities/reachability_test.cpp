#include "VadovaUtilities/VULReachability.h"

#include <gtest/gtest.h>

namespace {

VULNetworkInterface interface(bool up, bool running, bool loopback, bool hasAddress) {
    return VULNetworkInterface{up, running, loopback, hasAddress};
}

TEST(Reachability, NeedsAnInterfaceThatIsUpRunningAndAddressed) {
    const std::string host = "measurement.vadova.com";
    EXPECT_FALSE(VULIsHostReachable({}, host));
    EXPECT_FALSE(VULIsHostReachable({interface(true, false, false, true)}, host));
    EXPECT_FALSE(VULIsHostReachable({interface(false, true, false, true)}, host));
    EXPECT_FALSE(VULIsHostReachable({interface(true, true, false, false)}, host));
    EXPECT_TRUE(VULIsHostReachable({interface(true, false, false, true), interface(true, true, false, true)}, host));
}

TEST(Reachability, LoopbackCountsOnlyForLoopbackHosts) {
    const std::vector<VULNetworkInterface> onlyLoopback = {interface(true, true, true, true)};
    EXPECT_FALSE(VULIsHostReachable(onlyLoopback, "measurement.vadova.com"));
    for (const char* host : {"localhost", "127.0.0.1", "127.5.6.7", "::1", "[::1]", "api.localhost"}) {
        EXPECT_TRUE(VULIsLoopbackHost(host)) << host;
        EXPECT_TRUE(VULIsHostReachable(onlyLoopback, host)) << host;
    }
    for (const char* host : {"", "128.0.0.1", "localhost.example", "mylocalhost"}) {
        EXPECT_FALSE(VULIsLoopbackHost(host)) << host;
    }
}

TEST(Reachability, TheMachinesLoopbackInterfaceMakesLocalhostReachable) {
    auto reachability = VULMakeHostReachability("127.0.0.1");
    EXPECT_TRUE(reachability->isReachable());
    reachability->setChangeHandler([] {});  // starts and, on destruction, stops the watcher
    reachability->setChangeHandler({});
}

}  // namespace
