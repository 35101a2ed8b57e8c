#include "VadovaUtilities/VULAppDelegateSwizzler.h"

#include <utility>

#include "VadovaUtilities/VULMainBundle.h"

bool VULAppDelegateSwizzler::isAppDelegateProxyEnabled() {
    const auto value = VULMainBundle::objectForInfoDictionaryKey(kVULAppDelegateProxyEnabledPlistKey);
    if (!value) return true;
    if (const auto flag = value->asBoolean()) return *flag;
    if (const auto number = value->asReal()) return *number != 0;
    return true;
}

void VULAppDelegateSwizzler::proxyOriginalDelegate() { platform::ApplicationDelegateProxy::shared().install(); }

void VULAppDelegateSwizzler::registerAppDelegateInterceptor(
    std::shared_ptr<platform::ApplicationDelegateCallbacks> interceptor) {
    platform::ApplicationDelegateProxy::shared().registerInterceptor(std::move(interceptor));
}
