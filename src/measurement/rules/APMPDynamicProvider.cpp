#include "measurement/rules/APMPDynamicProvider.h"

#include "measurement/rules/ScalarValues.h"

namespace measurement::rules {

void APMPDynamicProvider::setModuleCreator(ModuleCreator creator, std::u16string name) {
    creators_[std::move(name)] = std::move(creator);
}

ValuePtr APMPDynamicProvider::moduleForName(const std::u16string& name, ErrorSlot& error) const {
    const auto it = creators_.find(name);
    if (it == creators_.end() || !it->second) return undefinedValue();
    ValuePtr module = it->second();
    if (!module) {
        fail(error, PixieErrorCode::ModuleCreationFailed);
        return undefinedValue();
    }
    return module;
}

}  // namespace measurement::rules
