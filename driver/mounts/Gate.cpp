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
        program_ = ProgramOf(pid_);
    }
    return *process_;
}

std::string_view Gate::DecidingProcess() {
    // No entry names a program: the executable is not read for decisions.
    return rules_ && rules_->processMatters ? std::string_view(Process()) : std::string_view();
}

Decision Gate::Decide(std::uint32_t bits, std::string_view path, bool folder) {
    if (!rules_)
        return Decision{};
    const std::string_view process = DecidingProcess();
    return rules_->all->Decide(bits, path, process, program_, folder);
}

bool Gate::Hidden(std::string_view path, bool folder) {
    if (!rules_ || rules_->hide->Size() == 0)
        return false;
    const std::string_view process = DecidingProcess();
    return rules_->hide->Decide(op::kList, path, process, program_, folder).refused;
}

int Gate::Refuse(std::uint32_t bits, std::string_view path, std::uint32_t entry) {
    if (DenialLog* log = policy_.Denials())
        log->Add({.uid = uid_,
                  .pid = pid_,
                  .process = Process(),
                  .operation = bits,
                  .path = std::string(path),
                  .entry = entry});
    return EACCES;
}

int Gate::Check(std::uint32_t bits, std::string_view path, bool folder) {
    if (!rules_)
        return 0;
    if (Hidden(path, folder))
        return ENOENT;
    const Decision decision = Decide(bits, path, folder);
    return decision.refused ? Refuse(bits, path, decision.entry) : 0;
}

int Gate::CheckHolds(std::uint32_t bits, std::string_view folder) {
    if (!rules_)
        return 0;
    const std::uint32_t entry = rules_->ProtectedBelow(folder);
    return entry == kAllowed ? 0 : Refuse(bits, folder, entry);
}

void Gate::HideTimes(std::string_view path, struct stat* st) {
    if (!rules_)
        return;
    if (Decide(op::kTimeGetA, path).refused)
        st->st_atim = {};
    if (Decide(op::kTimeGetM, path).refused)
        st->st_mtim = {};
}

}  // namespace kv::driver::mounts
