#include "VadovaUtilities/VULAppDelegateSwizzler.h"

#include <cstdio>

#include "VadovaUtilities/VULMainBundle.h"

bool VULAppDelegateSwizzler::isAppDelegateProxyEnabled() {
    const auto value = VULMainBundle::objectForInfoDictionaryKey(kVULAppDelegateProxyEnabledPlistKey);
    if (!value) return true;
    if (const auto flag = value->asBoolean()) return *flag;
    if (const auto number = value->asReal()) return *number != 0;
    return true;
}

void VULAppDelegateSwizzler::proxyOriginalDelegate() {}

std::string VULAppDelegateSwizzler::registerAppDelegateInterceptor(
    const std::shared_ptr<VULAppDelegateInterceptor>& interceptor) {
    char identifier[2 + 2 * sizeof(void*) + 1];
    std::snprintf(identifier, sizeof identifier, "%p", static_cast<const void*>(interceptor.get()));
    return identifier;
}
