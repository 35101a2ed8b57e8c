#pragma once
// The application object of the in-memory desktop: its delegate, its
// activation policy, its main menu (shown on the menu bar), activation and
// termination, and the event loop, which the process supplies (a real run
// loop, or a virtual clock stepped by a test or a timed run). What the
// system tells the application from outside (an opened URL, a continued
// user activity, background URL-session events) reaches its delegate
// through the process's ApplicationDelegateProxy; nothing on Linux sends
// these, so only tests call openURL, continueUserActivity and
// handleEventsForBackgroundURLSession. Main thread only.

#include <functional>
#include <memory>
#include <string>

#include "platform/core/ApplicationDelegateProxy.h"
#include "platform/core/UserActivity.h"
#include "platform/desktop/Workspace.h"
#include "platform/drawing/Menu.h"
#include "platform/drawing/MenuBar.h"

namespace platform {

class Application;

class ApplicationDelegate : public ApplicationDelegateCallbacks {
public:
    virtual ~ApplicationDelegate() = default;
    virtual void applicationDidFinishLaunching(Application& application) = 0;
    virtual bool applicationShouldTerminateAfterLastWindowClosed(Application& application) = 0;
};

class Application {
public:
    // Runs events until the application terminates (or the loop decides to
    // end, as a timed run does).
    using EventLoop = std::function<void(Application&)>;

    Application(MenuBar& menuBar, EventLoop eventLoop);

    void setDelegate(std::shared_ptr<ApplicationDelegate> delegate) { delegate_ = std::move(delegate); }
    const std::shared_ptr<ApplicationDelegate>& delegate() const { return delegate_; }

    ActivationPolicy activationPolicy() const { return activationPolicy_; }
    void setActivationPolicy(ActivationPolicy policy) { activationPolicy_ = policy; }

    void setMainMenu(std::shared_ptr<Menu> menu);
    const std::shared_ptr<Menu>& mainMenu() const { return menuBar_.mainMenu(); }
    MenuBar& menuBar() const { return menuBar_; }
    // A key pressed with the command modifier: the main menu's item with that
    // key equivalent runs; answers whether one ran.
    bool performKeyEquivalent(const std::string& key);

    // The system's callbacks, delivered to the delegate through the proxy.
    bool openURL(const std::string& url);
    bool continueUserActivity(const UserActivity& activity);
    void handleEventsForBackgroundURLSession(const std::string& identifier, std::function<void()> completionHandler);

    void activate(bool ignoringOtherApps);
    bool isActive() const { return active_; }
    int activationCount() const { return activations_; }

    // Tells the delegate that launching finished, then runs the event loop
    // until it returns.
    void run();
    // Ends the event loop (through onTerminate, which the loop's owner sets).
    void terminate();
    bool isTerminated() const { return terminated_; }
    std::function<void()> onTerminate;

private:
    MenuBar& menuBar_;
    EventLoop eventLoop_;
    std::shared_ptr<ApplicationDelegate> delegate_;
    ActivationPolicy activationPolicy_ = ActivationPolicy::prohibited;
    bool active_ = false;
    int activations_ = 0;
    bool terminated_ = false;
};

}  // namespace platform
