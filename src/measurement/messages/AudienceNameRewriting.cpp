#include "measurement/messages/AudienceNameRewriting.h"

#include <map>
#include <string>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/MessageSlots.h"
#include "measurement/messages/RepeatedMessages.h"
#include "measurement/storage/APMNameMaps.h"

namespace {

void rewriteName(NANOMessageBase& message, int slot, const std::map<std::string, std::string>& internalNames) {
    std::optional<std::string> name = APMPBGetString(message, slot);
    if (!name) {
        return;
    }
    if (auto found = internalNames.find(*name); found != internalNames.end()) {
        APMPBSetString(message, slot, found->second);
    }
}

// Applies `rewrite` to every element of a repeated message slot and stores
// the rewritten elements back.
template <class Wrapper, class Rewrite>
void rewriteElements(NANOMessageBase& message, int slot, Rewrite rewrite) {
    std::vector<std::shared_ptr<Wrapper>> elements = APMPBGetMessages<Wrapper>(message, slot);
    for (const auto& element : elements) {
        rewrite(*element);
    }
    APMPBSetArray(message, slot, APMPBArrayOfMessages(elements));
}

}  // namespace

void APMAudienceRewriteNamesToInternal(APMPBAudience& audience) {
    rewriteElements<APMPBEventFilter>(audience, AudienceSlot::EventFilters, [](NANOMessageBase& eventFilter) {
        rewriteName(eventFilter, EventFilterSlot::EventName, APMPublicToInternalEventNameMap());
        rewriteElements<APMPBFilter>(eventFilter, EventFilterSlot::Filters, [](NANOMessageBase& parameterFilter) {
            rewriteName(parameterFilter, FilterSlot::ParamName, APMParameterInternalNames());
        });
    });
    rewriteElements<APMPBPropertyFilter>(audience, AudienceSlot::PropertyFilters, [](NANOMessageBase& propertyFilter) {
        rewriteName(propertyFilter, PropertyFilterSlot::PropertyName, APMUserPropertyInternalNames());
    });
}
