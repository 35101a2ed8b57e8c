#pragma once
// The application-delegate proxy. The application (platform::Application)
// hands the system's callbacks to its delegate (platform::ApplicationDelegate)
// through the process's platform::ApplicationDelegateProxy; installing the
// proxy lets registered interceptors see each callback before the delegate.
// The switch follows the application's Info.plist key
// "VeredodaAppDelegateProxyEnabled": a Boolean or number decides; absent or
// of another kind, the proxy counts as enabled. Thread-safe.

#include <memory>

#include "platform/core/ApplicationDelegateProxy.h"

inline constexpr const char* kVULAppDelegateProxyEnabledPlistKey = "VeredodaAppDelegateProxyEnabled";

class VULAppDelegateSwizzler {
public:
    static bool isAppDelegateProxyEnabled();
    // Installs the proxy around the application delegate; again, nothing more.
    static void proxyOriginalDelegate();
    // Adds an interceptor of the delegate's callbacks, kept for the process.
    static void registerAppDelegateInterceptor(std::shared_ptr<platform::ApplicationDelegateCallbacks> interceptor);
};
