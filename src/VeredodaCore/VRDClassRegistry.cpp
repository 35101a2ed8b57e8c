#include "VeredodaCore/VRDClassRegistry.h"

VRDClassRegistry& VRDClassRegistry::shared() {
    static VRDClassRegistry registry;
    return registry;
}

void VRDClassRegistry::registerClass(const std::string& className, std::shared_ptr<VRDRuntimeClass> classObject) {
    std::lock_guard lock(mutex_);
    if (classObject) {
        classes_.insert_or_assign(className, std::move(classObject));
    } else {
        classes_.erase(className);
    }
}

std::shared_ptr<VRDRuntimeClass> VRDClassRegistry::classNamed(const std::string& className) const {
    std::lock_guard lock(mutex_);
    const auto found = classes_.find(className);
    return found == classes_.end() ? nullptr : found->second;
}

void VRDClassRegistry::resetForTesting() {
    std::lock_guard lock(mutex_);
    classes_.clear();
}
