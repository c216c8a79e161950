#include "driver/DenialLog.h"

#include <algorithm>

namespace kv::driver {

namespace {

struct Bit {
    std::uint32_t bit;
    const char* name;
};
constexpr Bit kBits[] = {
    {0x4, "Open"},           {0x8, "Time_Get_A"},     {0x10, "Rename"},
    {0x20, "DeleteF"},       {0x40, "Read"},          {0x80, "Write"},
    {0x100, "Attr_Get"},     {0x200, "List"},         {0x400, "Full"},
    {0x800, "Cr"},           {0x1000, "Replace"},     {0x2000, "Dir_Delete"},
    {0x4000, "Dir_Create"},  {0x8000, "Time_Get_C"},  {0x10000, "Time_Get_M"},
    {0x20000, "Time_Set_A"}, {0x40000, "Time_Set_C"}, {0x80000, "Time_Set_M"},
    {0x100000, "Attr_Set"},
};

}  // namespace

std::string PrintableText(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    }
    return out;
}

std::string OperationNames(std::uint32_t operation) {
    std::string names;
    for (const Bit& b : kBits) {
        if (operation & b.bit)
            names += (names.empty() ? "" : "|") + std::string(b.name);
    }
    return names.empty() ? "Lookup" : names;
}

DenialLog::DenialLog(std::function<void(const std::string&)> systemLog)
    : systemLog_(std::move(systemLog)), refilled_(std::chrono::steady_clock::now()) {}

bool DenialLog::TakeLineToken(std::chrono::steady_clock::time_point now) {
    const double seconds = std::chrono::duration<double>(now - refilled_).count();
    refilled_ = now;
    tokens_ = std::min(kBurst, tokens_ + seconds * kLinesPerSecond);
    if (tokens_ < 1) {
        ++suppressed_;
        ++suppressedUnsaid_;
        return false;
    }
    tokens_ -= 1;
    return true;
}

void DenialLog::Add(Denial denial) {
    if (denial.path.size() > kMaxPath)
        denial.path = denial.path.substr(0, kMaxPath) + "...";
    denial.time = std::chrono::duration_cast<std::chrono::seconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
    std::string line;
    {
        const std::lock_guard lock(mutex_);
        denial.sequence = ++sequence_;
        ++counts_[denial.uid];
        if (systemLog_ && TakeLineToken(std::chrono::steady_clock::now())) {
            if (suppressedUnsaid_ > 0)
                line = "(" + std::to_string(suppressedUnsaid_) + " refusals not logged) ";
            suppressedUnsaid_ = 0;
            line += "refused " + OperationNames(denial.operation) + " of " +
                    PrintableText(denial.path) + " to uid " + std::to_string(denial.uid) + " pid " +
                    std::to_string(denial.pid) + " (" + PrintableText(denial.process) +
                    "), entry " + std::to_string(denial.entry);
        }
        if (ring_.size() == kCapacity)
            ring_.pop_front();
        ring_.push_back(std::move(denial));
    }
    if (!line.empty())
        systemLog_(line);
}

std::vector<Denial> DenialLog::After(std::uint32_t sequence, uid_t uid) const {
    const std::lock_guard lock(mutex_);
    std::vector<Denial> found;
    for (const Denial& d : ring_) {
        if (d.sequence > sequence && (uid == static_cast<uid_t>(-1) || d.uid == uid))
            found.push_back(d);
    }
    return found;
}

std::uint32_t DenialLog::CountOf(uid_t uid) const {
    const std::lock_guard lock(mutex_);
    const auto it = counts_.find(uid);
    return it == counts_.end() ? 0 : it->second;
}

void DenialLog::ResetCount(uid_t uid) {
    const std::lock_guard lock(mutex_);
    counts_.erase(uid);
}

std::uint64_t DenialLog::Suppressed() const {
    const std::lock_guard lock(mutex_);
    return suppressed_;
}

}  // namespace kv::driver
