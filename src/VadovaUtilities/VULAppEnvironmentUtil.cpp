#include "VadovaUtilities/VULAppEnvironmentUtil.h"

bool VULAppEnvironmentUtil::isFromAppStore() {
    return false;
}
