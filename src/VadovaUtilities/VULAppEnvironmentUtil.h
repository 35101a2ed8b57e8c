#pragma once
// Facts about how the running application was installed.

class VULAppEnvironmentUtil {
public:
    // True when the application was installed from the App Store. Linux has
    // no App Store receipts, so this is always false here.
    static bool isFromAppStore();
};
