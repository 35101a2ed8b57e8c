#include "platform/desktop/Application.h"

namespace platform {

Application::Application(MenuBar& menuBar, EventLoop eventLoop)
    : menuBar_(menuBar), eventLoop_(std::move(eventLoop)) {}

void Application::setMainMenu(std::shared_ptr<Menu> menu) { menuBar_.setMainMenu(std::move(menu)); }

bool Application::performKeyEquivalent(const std::string& key) {
    const auto& menu = mainMenu();
    return menu && menu->performKeyEquivalent(key);
}

// Each delivery holds the delegate it started with: a callback may replace it.
bool Application::openURL(const std::string& url) {
    const auto delegate = delegate_;
    return ApplicationDelegateProxy::shared().deliverOpenURL(delegate.get(), url);
}

bool Application::continueUserActivity(const UserActivity& activity) {
    const auto delegate = delegate_;
    return ApplicationDelegateProxy::shared().deliverContinueUserActivity(delegate.get(), activity);
}

void Application::handleEventsForBackgroundURLSession(const std::string& identifier,
                                                      std::function<void()> completionHandler) {
    const auto delegate = delegate_;
    ApplicationDelegateProxy::shared().deliverHandleEventsForBackgroundURLSession(delegate.get(), identifier,
                                                                                  std::move(completionHandler));
}

void Application::activate(bool ignoringOtherApps) {
    (void)ignoringOtherApps;  // there is no other application to ignore on this desktop
    active_ = true;
    ++activations_;
}

void Application::run() {
    if (delegate_) delegate_->applicationDidFinishLaunching(*this);
    if (eventLoop_ && !terminated_) eventLoop_(*this);
}

void Application::terminate() {
    if (terminated_) return;
    terminated_ = true;
    if (onTerminate) onTerminate();
}

}  // namespace platform
