#include "platform/desktop/Application.h"

namespace platform {

Application::Application(MenuBar& menuBar, EventLoop eventLoop)
    : menuBar_(menuBar), eventLoop_(std::move(eventLoop)) {}

void Application::setMainMenu(std::shared_ptr<Menu> menu) { menuBar_.setMainMenu(std::move(menu)); }

bool Application::performKeyEquivalent(const std::string& key) {
    const auto& menu = mainMenu();
    return menu && menu->performKeyEquivalent(key);
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
