#include "enforce/AI.h"

#include "driver/ControlCodes.h"
#include "driver/Protocol.h"

namespace kv {

namespace code = driver::code;

TDodiInterceptor::TDodiInterceptor(const std::string& devicePath, TOnError onError)
    : devicePath_(devicePath), onError_(std::move(onError)) {
    record_.Reserved = -1;
    success_ = device_.Open(devicePath_);
    clearOnDestroy_ = false;
    if (!success_)
        RaiseError(kOpenFailed, 0);
    SetActive(active_);
}

TDodiInterceptor::~TDodiInterceptor() {
    if (!device_.IsOpen())
        return;
    if (clearOnDestroy_) {
        std::uint32_t returned = 0;
        if (!device_.Request(code::kClear, password_, nullptr, 0, &returned)) {
            RaiseError(kClearFailed, returned);
        }
    }
    device_.Close();
}

bool TDodiInterceptor::Reconnect() {
    return device_.IsOpen() || device_.Open(devicePath_);
}

void TDodiInterceptor::RaiseError(std::uint32_t type, std::uint32_t code) {
    if (onError_)
        onError_(*this, type, code);
}

bool TDodiInterceptor::Send(std::uint32_t code, const platform::EntryRecordTexts* record,
                            std::uint32_t outputSize, std::uint32_t* returned) {
    success_ = device_.Request(code, password_, record, outputSize, returned);
    return success_;
}

int TDodiInterceptor::AddEntry(std::uint32_t dwOperation, const std::string& FileMask,
                               const std::string& ExcludeFiles, const std::string& Processes,
                               const std::string& ExcludeProc) {
    record_.dwOperation = dwOperation;
    // Empty texts travel as empty strings, never as null pointers.
    record_.FileMask = FileMask;
    record_.ExcludeFiles = ExcludeFiles;
    record_.Processes = Processes;
    record_.ExcludeProc = ExcludeProc;
    record_.Password = password_;
    const bool ok = Send(code::kAddEntry, &record_, 0, &returned_);
    record_.FileMask.reset();
    record_.ExcludeFiles.reset();
    record_.Processes.reset();
    record_.ExcludeProc.reset();
    if (!ok) {
        RaiseError(kAddFailed, returned_);
        return -1;
    }
    return static_cast<int>(NumEntries() - 1);
}

bool TDodiInterceptor::ClearEntries() {
    const bool ok = Send(code::kClear, nullptr, 0, &returned_);
    if (!ok)
        RaiseError(kClearFailed, returned_);
    return ok;
}

bool TDodiInterceptor::LoadOwnRules() {
    const bool ok = Send(code::kLoadRules, nullptr, 0, &returned_);
    if (ok)
        active_ = true;
    return ok;
}

bool TDodiInterceptor::LoadEveryAccount(std::uint32_t* count) {
    success_ = device_.Send(driver::MakeRequest(code::kLoadEveryAccount), password_, count);
    // Protection is in force: Refresh may run it again.
    if (success_)
        active_ = true;
    return success_;
}

bool TDodiInterceptor::SetOrigin(std::uint32_t origin) {
    driver::Request request = driver::MakeRequest(code::kSetOrigin);
    request.origin = origin;
    return device_.Send(request, password_, nullptr);
}

bool TDodiInterceptor::CheckPassword(const std::string& password) {
    std::uint32_t returned = 0;
    return device_.Request(code::kCheckPassword, password, nullptr, 0, &returned);
}

std::optional<std::uint32_t> TDodiInterceptor::RefusalCount() {
    std::uint32_t count = 0;
    if (!device_.Request(code::kGetDenialCount, std::nullopt, nullptr, 0, &count))
        return std::nullopt;
    return count;
}

std::optional<bool> TDodiInterceptor::PasswordSet() {
    std::uint32_t returned = 0;
    if (device_.Request(code::kCheckPassword, std::nullopt, nullptr, 0, &returned))
        return false;
    if (!device_.IsOpen())
        return std::nullopt;
    return true;
}

bool TDodiInterceptor::GetEntryCount(std::uint32_t& count) {
    const bool ok = Send(code::kCount, nullptr, 4, &count);
    if (!ok)
        RaiseError(kCountFailed, count);
    return ok;
}

std::uint32_t TDodiInterceptor::NumEntries() {
    std::uint32_t slot = 0;
    if (!Send(code::kCount, nullptr, 0, &slot)) {
        RaiseError(kCountFailed, slot);
        return 0xFFFFFFFF;
    }
    return slot;
}

void TDodiInterceptor::SetActive(bool value) {
    if (value != active_) {
        if (Send(value ? code::kActivate : code::kDeactivate, nullptr, 0, &returned_)) {
            active_ = value;
        }
    }
    if (!success_)
        RaiseError(kActivateFailed, returned_);
}

bool TDodiInterceptor::Deactivate() {
    if (Send(code::kDeactivate, nullptr, 0, &returned_))
        active_ = false;
    if (!success_)
        RaiseError(kActivateFailed, returned_);
    return success_;
}

void TDodiInterceptor::SetPassword(const std::string& password) {
    password_ = password;
}

}  // namespace kv
