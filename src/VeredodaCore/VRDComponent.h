#pragma once
// A component: the instance a library offers for one protocol (an interface
// type), made on first request by its creation block. Libraries list their
// components in VRDLibrary::componentsToRegister.

#include <functional>
#include <memory>
#include <typeindex>
#include <vector>

#include "VeredodaCore/VRDClassRegistry.h"

class VRDComponent {
public:
    template <class Protocol>
    static VRDComponent componentWithProtocol(std::function<std::shared_ptr<Protocol>()> creationBlock) {
        return VRDComponent(std::type_index(typeid(Protocol)),
                            [creationBlock = std::move(creationBlock)]() -> std::shared_ptr<void> {
                                return std::shared_ptr<Protocol>(creationBlock());
                            });
    }

    std::type_index protocol() const { return protocol_; }
    // The instance as a pointer to the protocol type (type-erased).
    std::shared_ptr<void> createInstance() const { return creationBlock_(); }

private:
    VRDComponent(std::type_index protocol, std::function<std::shared_ptr<void>()> creationBlock)
        : protocol_(protocol), creationBlock_(std::move(creationBlock)) {}

    std::type_index protocol_;
    std::function<std::shared_ptr<void>()> creationBlock_;
};

// A class object that supplies components when registered with
// DEDOru::registerInternalLibrary.
class VRDLibrary : public virtual VRDRuntimeClass {
public:
    virtual std::vector<VRDComponent> componentsToRegister() const = 0;
};
