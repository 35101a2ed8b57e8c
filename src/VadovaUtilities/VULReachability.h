#pragma once
// Whether a host can be reached over the network, and notice when that
// changes. The stand-in for the platform's reachability service looks at the
// machine's network interfaces: a host is reachable while some interface is
// up, running and carries an address; loopback interfaces count only for
// loopback hosts ("localhost", 127.x.x.x, ::1).

#include <functional>
#include <memory>
#include <string>
#include <vector>

class VULReachability {
public:
    virtual ~VULReachability() = default;
    virtual bool isReachable() const = 0;
    // `onChange` runs on the watcher's own thread each time reachability
    // flips; an empty function stops the calls.
    virtual void setChangeHandler(std::function<void()> onChange) = 0;
};

// Watches `host`; changes are found by polling every `pollIntervalSeconds`
// on a thread that starts with the first change handler.
std::shared_ptr<VULReachability> VULMakeHostReachability(const std::string& host, double pollIntervalSeconds = 5.0);

// One network interface as the reachability decision sees it.
struct VULNetworkInterface {
    bool up = false;
    bool running = false;
    bool loopback = false;
    bool hasAddress = false;
};

bool VULIsLoopbackHost(const std::string& host);
bool VULIsHostReachable(const std::vector<VULNetworkInterface>& interfaces, const std::string& host);
