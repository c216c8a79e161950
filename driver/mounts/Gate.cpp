#include "driver/mounts/Gate.h"

#include <cerrno>

#include "driver/DenialLog.h"
#include "driver/mounts/Caller.h"
#include "driver/mounts/Identity.h"

namespace kv::driver::mounts {

Gate::Gate(const Policy& policy, uid_t uid, pid_t pid)
    : policy_(policy), rules_(policy.For(uid)), uid_(uid), pid_(pid) {}

const std::string& Gate::Process() {
    if (!process_) {
        // Read with the service's rights: a serving thread may still act as
        // another caller, whose rights do not reach this process.
        AsService service;
        process_ = policy_.ProcessOf(ExecutableOf(pid_), uid_);
    }
    return *process_;
}

std::string_view Gate::DecidingProcess() {
    // No entry names a program: the executable is not read for decisions.
    return rules_ && rules_->processMatters ? std::string_view(Process()) : std::string_view();
}

Decision Gate::Decide(std::uint32_t bits, std::string_view path) {
    return rules_ ? rules_->all->Decide(bits, path, DecidingProcess()) : Decision{};
}

bool Gate::Hidden(std::string_view path) {
    return rules_ && rules_->hide->Size() > 0 &&
           rules_->hide->Decide(op::kList, path, DecidingProcess()).refused;
}

int Gate::Check(std::uint32_t bits, std::string_view path) {
    if (!rules_)
        return 0;
    if (Hidden(path))
        return ENOENT;
    const Decision decision = Decide(bits, path);
    if (!decision.refused)
        return 0;
    if (DenialLog* log = policy_.Denials())
        log->Add({.uid = uid_,
                  .pid = pid_,
                  .process = Process(),
                  .operation = bits,
                  .path = std::string(path),
                  .entry = decision.entry});
    return EACCES;
}

std::uint32_t Gate::TimesHidden(std::string_view path) {
    std::uint32_t hidden = 0;
    if (!rules_)
        return hidden;
    for (const std::uint32_t bit : {op::kTimeGetA, op::kTimeGetC, op::kTimeGetM}) {
        if (Decide(bit, path).refused)
            hidden |= bit;
    }
    return hidden;
}

}  // namespace kv::driver::mounts
