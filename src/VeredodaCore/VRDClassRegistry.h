#pragma once
// Classes looked up by name at run time. A higher layer registers its class
// objects here at start-up (for example "RADOdodavazi"); a lower layer looks
// them up by name and asks whether a class answers an operation by casting
// it to the interface that declares that operation. A name that nobody
// registered reads as an absent class. Thread-safe.

#include <map>
#include <memory>
#include <mutex>
#include <string>

// Base of every class object that can be registered.
class VRDRuntimeClass {
public:
    virtual ~VRDRuntimeClass() = default;
};

class VRDClassRegistry {
public:
    static VRDClassRegistry& shared();

    // Registers `classObject` under `className`, replacing an earlier one.
    void registerClass(const std::string& className, std::shared_ptr<VRDRuntimeClass> classObject);
    std::shared_ptr<VRDRuntimeClass> classNamed(const std::string& className) const;

    // The class named `className` when it exists and implements `Interface`.
    template <class Interface>
    std::shared_ptr<Interface> classNamed(const std::string& className) const {
        return std::dynamic_pointer_cast<Interface>(classNamed(className));
    }

    // Test hook: forgets every registered class.
    void resetForTesting();

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<VRDRuntimeClass>> classes_;
};
