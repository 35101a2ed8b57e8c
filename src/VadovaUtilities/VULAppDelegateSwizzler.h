#pragma once
// The application-delegate proxy switch. Linux applications have no
// delegate object to wrap, so the proxy itself does nothing: interceptors are
// accepted and receive no callbacks. The switch still follows the
// application's Info.plist key "VeredodaAppDelegateProxyEnabled": a Boolean
// or number decides; absent or of another kind, the proxy counts as enabled.

#include <memory>
#include <string>

// Base of objects that want the application delegate's callbacks.
class VULAppDelegateInterceptor {
public:
    virtual ~VULAppDelegateInterceptor() = default;
};

inline constexpr const char* kVULAppDelegateProxyEnabledPlistKey = "VeredodaAppDelegateProxyEnabled";

class VULAppDelegateSwizzler {
public:
    static bool isAppDelegateProxyEnabled();
    // Installs the proxy around the application delegate: nothing to do here.
    static void proxyOriginalDelegate();
    // Accepts an interceptor; answers its identifier (its address in hex).
    static std::string registerAppDelegateInterceptor(const std::shared_ptr<VULAppDelegateInterceptor>& interceptor);
};
