#include "enforce/ProtectionControl.h"

#include "enforce/AI.h"
#include "enforce/CompileRules.h"
#include "platform/Prompts.h"
#include "principals/UserDirectory.h"
#include "rules/Schema.h"
#include "settings/Encript.h"

namespace kv {

TProtectionControl::TProtectionControl(const TEncriptor& store, TDodiInterceptor& interceptor,
                                       TRuleCompiler& compiler, IPrompts& prompts,
                                       IProtectionView& view,
                                       std::function<std::string()> currentUserName,
                                       std::function<void()> applyAutostart)
    : store_(store),
      interceptor_(interceptor),
      compiler_(compiler),
      prompts_(prompts),
      view_(view),
      currentUserName_(std::move(currentUserName)),
      applyAutostart_(std::move(applyAutostart)) {}

std::string PrincipalOfUser(const TEncriptor& store, const std::string& userName) {
    const std::string group = store.ReadString(userName + kGroupNameSuffix, "");
    return group.empty() ? std::string(kUserPrefix) + userName : std::string(kGroupPrefix) + group;
}

std::string TProtectionControl::CurrentUserPrincipal() const {
    return PrincipalOfUser(store_, currentUserName_());
}

bool TProtectionControl::StartUserProtection(std::string* error) {
    auto fail = [error](const std::string& reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (serviceLoadsRules_ && interceptor_.LoadOwnRules())
        return true;
    compiler_.CompileRules(CurrentUserPrincipal());
    std::uint32_t count = 0;
    if (!interceptor_.GetEntryCount(count))
        return fail(kNotStartedMessage);
    if (count == 0)
        return true;  // nothing to protect for this user
    interceptor_.SetClearOnDestroy(false);
    interceptor_.SetActive(true);
    if (!interceptor_.Active())
        return fail("The interceptor service refused to start protection.");
    return true;
}

bool TProtectionControl::StopProtection(std::string* error) {
    // This run may not be the one that activated the table.
    const bool deactivated = interceptor_.Deactivate();
    const bool stopped = deactivated && interceptor_.ClearEntries();
    interceptor_.SetClearOnDestroy(true);
    if (!stopped && error)
        *error = "The interceptor service refused to stop protection, or does not answer.";
    return stopped;
}

void TProtectionControl::cmdAutorunExecute() {
    compiler_.CompileRules(CurrentUserPrincipal());
    interceptor_.SetClearOnDestroy(false);
    interceptor_.SetActive(true);
    // A service that does not answer is said, not shown as running protection.
    if (interceptor_.Active()) {
        view_.Show(ProtectionState::Protecting);
    } else {
        prompts_.Message(kNotStartedMessage, "Kestrava", Buttons::Ok, MessageIcon::Warning);
        view_.Show(ProtectionState::Stopped);
    }
    view_.SetAutomaticChecked(true);
    if (applyAutostart_)
        applyAutostart_();
}

void TProtectionControl::cmdStartExecute() {
    std::uint32_t count = 0;
    // With no principal selected there is nothing to test: the bare key prefix
    // would match every principal's keys.
    const bool selected = !compiler_.ResolvePrefix("").empty();
    if (selected)
        compiler_.CompileRules("");
    const bool answered = selected && interceptor_.GetEntryCount(count);
    if (answered && count > 0) {
        interceptor_.SetActive(true);
        view_.Show(interceptor_.Active() ? ProtectionState::Testing : ProtectionState::Stopped);
    } else if (selected && !answered) {
        // The rules may be fine: it is the service that is missing.
        prompts_.Message(kNotStartedMessage, "Kestrava", Buttons::Ok, MessageIcon::Warning);
        view_.Show(ProtectionState::Stopped);
    } else {
        prompts_.Message(kNoProtectionMessage, "Kestrava", Buttons::Ok, MessageIcon::None);
        view_.Show(ProtectionState::Stopped);
    }
    interceptor_.SetClearOnDestroy(true);
}

void TProtectionControl::cmdStopExecute() {
    StopProtection();
    view_.Show(ProtectionState::Stopped);
}

void TProtectionControl::cmdRefreshExecute() {
    interceptor_.SetActive(false);
    interceptor_.ClearEntries();
    if (view_.Shown() == ProtectionState::Testing)
        cmdStartExecute();
    if (view_.Shown() == ProtectionState::Protecting)
        cmdAutorunExecute();
}

bool TProtectionControl::RefreshEnabled() const {
    return interceptor_.Active();
}

}  // namespace kv
