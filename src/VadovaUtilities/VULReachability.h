#pragma once
// Whether a host can be reached over the network, and notice when that
// changes. The stand-in for the platform's reachability service looks at the
// machine's network interfaces: a host is reachable while some interface is
// up, running and carries an address; loopback interfaces count only for
// loopback hosts ("localhost", 127.x.x.x, ::1).
//
// The answer is kept, not read per question: the interfaces are read once
// when the first question or change handler comes, and again each time the
// kernel notes a change of links or addresses (a routing socket). Where no
// routing socket can be opened, the interfaces are read every poll interval.

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

// One network interface as the reachability decision sees it.
struct VULNetworkInterface {
    bool up = false;
    bool running = false;
    bool loopback = false;
    bool hasAddress = false;
};

// Notices that the interfaces may have changed. Thread-safe.
class VULInterfaceChangeNotices {
public:
    virtual ~VULInterfaceChangeNotices() = default;
    // Blocks until a change may have happened (true) or close() (false).
    virtual bool waitForChange() = 0;
    // Ends every wait, now and later.
    virtual void close() = 0;
};

// The kernel's link and address notices, subscribed at once; without a
// routing socket, a notice every `pollIntervalSeconds`.
std::unique_ptr<VULInterfaceChangeNotices> VULMakeInterfaceChangeNotices(double pollIntervalSeconds);

// Watches `host` on the machine's interfaces.
std::shared_ptr<VULReachability> VULMakeHostReachability(const std::string& host, double pollIntervalSeconds = 5.0);
// Watches `host` on the interfaces `readInterfaces` answers, read again at each notice.
std::shared_ptr<VULReachability> VULMakeHostReachability(
    const std::string& host, std::function<std::vector<VULNetworkInterface>()> readInterfaces,
    std::unique_ptr<VULInterfaceChangeNotices> notices);

// The machine's interfaces now.
std::vector<VULNetworkInterface> VULCurrentNetworkInterfaces();
bool VULIsLoopbackHost(const std::string& host);
bool VULIsHostReachable(const std::vector<VULNetworkInterface>& interfaces, const std::string& host);
