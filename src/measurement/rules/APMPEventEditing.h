#pragma once
// The front door of event editing: one program loaded from the remote
// configuration, whose callbacks edit each event and may create new ones.
//
// loadProgram refuses a program of more than kMaxProgramEntities entities
// (code 20 of the pixie domain) before running any of it. Otherwise it
// runs the program's top-level statements in the global scope
// (ending with a control value fails with code 5 of the editing domain),
// then each activity: every statement, run alone, must yield a map (code 6)
// that is handed to the program function named by the activity (code 7 when
// it is none). The programs reach the host through modules: the runtime's
// own, "internal.registerCallback", "internal.eventLogger" and those the
// host adds with setModuleCreator.
//
// handleEvent runs the callbacks on one event (see
// APMPEditingCallbackHandler.h) with a fresh instruction budget, then
// collects garbage. It answers true when the output event differs from the
// input or events were created. False with the error set is a failure: the
// caller writes the event unedited and reports it. False without an error
// means nothing changed: the event is written as it came, nothing reported.

#include <memory>
#include <string>

#include "measurement/messages/APMPBMessages.h"
#include "measurement/rules/APMPDynamicProvider.h"
#include "measurement/rules/APMPEditingCallbackHandler.h"
#include "measurement/rules/APMPEventContext.h"
#include "measurement/rules/APMPRuntime.h"

namespace measurement::rules {

class APMPMapValue;

class APMPEventEditing {
public:
    APMPEventEditing();
    explicit APMPEventEditing(std::unique_ptr<APMPRuntime> runtime);
    APMPEventEditing(const APMPEventEditing&) = delete;
    APMPEventEditing& operator=(const APMPEventEditing&) = delete;

    void setModuleCreator(ModuleCreator creator, std::u16string name);

    [[nodiscard]] bool loadProgram(const APMPBProgram& program, ErrorSlot& error);
    [[nodiscard]] bool loadActivityData(const APMPBOgtActivity& activity, ErrorSlot& error);
    [[nodiscard]]
    bool registerRuleWithName(const std::u16string& name, const std::shared_ptr<APMPMapValue>& rule, ErrorSlot& error);

    [[nodiscard]] bool handleEvent(const APMPEvent& event, ErrorSlot& error);
    bool hasEdits() const;
    bool hasCreatedEvents() const;
    const APMPEventContext& eventContext() const { return *eventContext_; }

    APMPRuntime& runtime() { return *runtime_; }
    const APMPEditingCallbackHandler& callbackHandler() const { return *callbackHandler_; }

private:
    std::unique_ptr<APMPRuntime> runtime_;
    std::shared_ptr<APMPEventContext> eventContext_;
    std::shared_ptr<APMPEditingCallbackHandler> callbackHandler_;
};

}  // namespace measurement::rules
