#include "driver/Ctl.h"

#include <pwd.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>
#include <thread>
#include <vector>

#include "driver/DenialLog.h"
#include "driver/DeviceClient.h"
#include "driver/EntryTable.h"
#include "driver/Matcher.h"
#include "driver/Policy.h"

namespace kv::driver {

namespace {

const char kUsageText[] =
    "usage: kvctl [--device PATH] [--uid N] status\n"
    "       kvctl [--device PATH] [--uid N] entries\n"
    "       kvctl [--device PATH] [--uid N] check --op NAME --process NAME PATH\n"
    "       kvctl [--device PATH] [--uid N] log [--follow] [--json]\n"
    "  --uid N   act on the table of uid N instead of the caller's own (root only)\n"
    "  log       the refusals kept by the service (root: every uid's unless --uid;\n"
    "            others: their own); --follow waits for more, --json prints one\n"
    "            JSON object per line\n";

/// Length of the valid UTF-8 sequence at text[at], or 0 when there is none.
std::size_t Utf8Length(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    if (length == 0 || at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

/// A JSON string. Texts are bytes: valid UTF-8 is kept, and every other byte
/// is written as the code point of the same value, so the line stays JSON.
std::string JsonText(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else if (byte < 0x80) {
            out += c;
        } else if (const std::size_t length = Utf8Length(text, i)) {
            out += text.substr(i, length);
            i += length - 1;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        }
    }
    return out + "\"";
}

std::string AllOperationNames() {
    std::string names;
    for (const OperationName& op : kOperations)
        names += std::string(names.empty() ? "" : ", ") + op.name;
    return names;
}

/// Sends one request; reports a broken exchange or a refused request.
bool Ask(DeviceClient& device, const Request& request, Reply* reply, std::ostream& err,
         int* exitCode) {
    std::string error;
    if (!device.Transact(request, reply, &error)) {
        err << "kvctl: " << error << "\n";
        *exitCode = ctl_exit::kFailed;
        return false;
    }
    if (!reply->success) {
        err << "kvctl: the service refused the request\n";
        *exitCode = ctl_exit::kFailed;
        return false;
    }
    return true;
}

bool FetchEntry(DeviceClient& device, std::uint32_t index, Entry* entry, std::ostream& err,
                int* exitCode) {
    Request request;
    request.code = code::kGetEntry;
    request.index = index;
    request.outputSize = static_cast<std::uint32_t>(kMaxFrameBody - kReplyHeaderSize);
    Reply reply;
    if (!Ask(device, request, &reply, err, exitCode))
        return false;
    if (!DecodeEntryOutput(reply.output, entry)) {
        err << "kvctl: the service sent a damaged entry " << index << "\n";
        *exitCode = ctl_exit::kFailed;
        return false;
    }
    return true;
}

std::string UserName(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) != 0 || !found)
        return std::to_string(uid);
    return found->pw_name;
}

std::string UtcTime(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DenialLine(const Denial& d, bool json) {
    if (json) {
        return "{\"sequence\":" + std::to_string(d.sequence) + ",\"time\":\"" + UtcTime(d.time) +
               "\",\"uid\":" + std::to_string(d.uid) + ",\"user\":" + JsonText(UserName(d.uid)) +
               ",\"pid\":" + std::to_string(d.pid) + ",\"process\":" + JsonText(d.process) +
               ",\"operation\":" + JsonText(OperationNames(d.operation)) +
               ",\"path\":" + JsonText(d.path) + ",\"entry\":" + std::to_string(d.entry) + "}";
    }
    return UtcTime(d.time) + " uid " + std::to_string(d.uid) + " (" + UserName(d.uid) + ") pid " +
           std::to_string(d.pid) + " " + PrintableText(BaseName(d.process)) + ": " +
           OperationNames(d.operation) + " " + PrintableText(d.path) + " refused by entry " +
           std::to_string(d.entry);
}

/// Prints the refusals after `*sequence` and moves it past them.
bool PrintDenials(DeviceClient& device, std::uint32_t* sequence, bool json, std::ostream& out,
                  std::ostream& err, int* exitCode) {
    for (;;) {
        Request request = MakeRequest(code::kGetDenials);
        request.index = *sequence;
        request.outputSize = static_cast<std::uint32_t>(kMaxFrameBody - kReplyHeaderSize);
        Reply reply;
        if (!Ask(device, request, &reply, err, exitCode))
            return false;
        std::size_t offset = 0;
        for (std::uint32_t i = 0; i < reply.returned; ++i) {
            Denial d;
            if (!DecodeDenial(reply.output, &offset, &d)) {
                err << "kvctl: the service sent a damaged refusal\n";
                *exitCode = ctl_exit::kFailed;
                return false;
            }
            out << DenialLine(d, json) << "\n";
            *sequence = d.sequence;
        }
        out.flush();
        if (reply.returned == 0)
            return true;
    }
}

/// Every uid's table: its state and where its entries came from.
bool PrintTables(DeviceClient& device, std::ostream& out, std::ostream& err, int* exitCode) {
    Request request = MakeRequest(code::kGetTables);
    request.outputSize = static_cast<std::uint32_t>(kMaxFrameBody - kReplyHeaderSize);
    Reply reply;
    if (!Ask(device, request, &reply, err, exitCode))
        return false;
    if (reply.output.size() != std::size_t{reply.returned} * 16) {
        err << "kvctl: the service sent a damaged table list\n";
        *exitCode = ctl_exit::kFailed;
        return false;
    }
    out << "tables: " << reply.returned << "\n";
    for (std::uint32_t i = 0; i < reply.returned; ++i) {
        const std::uint32_t uid = GetU32(reply.output, i * 16);
        const bool active = GetU32(reply.output, i * 16 + 4) == 1;
        const std::uint32_t entries = GetU32(reply.output, i * 16 + 8);
        const auto origin = OriginOf(GetU32(reply.output, i * 16 + 12));
        out << "  uid " << uid << " (" << PrintableText(UserName(uid))
            << "): " << (active ? "active" : "not active") << ", " << entries << " entries, from "
            << OriginName(origin.value_or(Origin::kUnknown)) << "\n";
    }
    return true;
}

}  // namespace

std::string EntryJson(std::uint32_t index, const Entry& entry) {
    return "{\"index\":" + std::to_string(index) +
           ",\"dwOperation\":" + std::to_string(entry.dwOperation) +
           ",\"FileMask\":" + JsonText(entry.FileMask) +
           ",\"ExcludeFiles\":" + JsonText(entry.ExcludeFiles) +
           ",\"Processes\":" + JsonText(entry.Processes) +
           ",\"ExcludeProc\":" + JsonText(entry.ExcludeProc) + "}";
}

int RunCtl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string devicePath = DefaultDevicePath();
    std::string command;
    std::string opName;
    std::string process;
    std::optional<std::string> uidText;
    std::vector<std::string> operands;
    bool follow = false;
    bool json = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string* target) {
            if (i + 1 >= args.size()) {
                err << "kvctl: " << arg << " needs a value\n" << kUsageText;
                return false;
            }
            *target = args[++i];
            return true;
        };
        if (arg == "--device") {
            if (!value(&devicePath))
                return ctl_exit::kUsage;
        } else if (arg == "--op") {
            if (!value(&opName))
                return ctl_exit::kUsage;
        } else if (arg == "--process") {
            if (!value(&process))
                return ctl_exit::kUsage;
        } else if (arg == "--uid") {
            if (!value(&uidText.emplace()))
                return ctl_exit::kUsage;
        } else if (arg == "--follow") {
            follow = true;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--help" || arg == "-h") {
            out << kUsageText;
            return ctl_exit::kOk;
        } else if (arg.starts_with("--")) {
            err << "kvctl: unknown option " << arg << "\n" << kUsageText;
            return ctl_exit::kUsage;
        } else if (command.empty()) {
            command = arg;
        } else {
            operands.push_back(arg);
        }
    }
    std::uint32_t uid = 0;
    if (uidText) {
        const auto [end, ec] =
            std::from_chars(uidText->data(), uidText->data() + uidText->size(), uid);
        if (ec != std::errc() || end != uidText->data() + uidText->size() || uid == 0xFFFFFFFFu) {
            err << "kvctl: --uid needs a number, not \"" << *uidText << "\"\n";
            return ctl_exit::kUsage;
        }
    }
    std::uint32_t operation = 0;
    if ((follow || json) && command != "log") {
        err << "kvctl: --follow and --json belong to log\n" << kUsageText;
        return ctl_exit::kUsage;
    }
    if (command == "status" || command == "entries" || command == "log") {
        if (!operands.empty() || !opName.empty() || !process.empty()) {
            err << "kvctl: " << command << " takes no arguments\n" << kUsageText;
            return ctl_exit::kUsage;
        }
    } else if (command == "check") {
        if (opName.empty() || process.empty() || operands.size() != 1) {
            err << "kvctl: check needs --op NAME, --process NAME and one PATH\n" << kUsageText;
            return ctl_exit::kUsage;
        }
        const auto bit = OperationBit(opName);
        if (!bit) {
            err << "kvctl: unknown operation \"" << opName << "\"; the operations are "
                << AllOperationNames() << "\n";
            return ctl_exit::kUsage;
        }
        operation = *bit;
    } else {
        err << (command.empty() ? std::string("kvctl: no command")
                                : "kvctl: unknown command \"" + command + "\"")
            << "\n"
            << kUsageText;
        return ctl_exit::kUsage;
    }

    DeviceClient device;
    std::string error;
    if (!device.Open(devicePath, &error)) {
        err << "kvctl: the interceptor service is not running (" << error << ")\n";
        return ctl_exit::kNoService;
    }
    int exitCode = ctl_exit::kOk;
    if (uidText) {
        Request select = MakeRequest(code::kSelectUid);
        select.uid = uid;
        Reply selected;
        if (!device.Transact(select, &selected, &error)) {
            err << "kvctl: " << error << "\n";
            return ctl_exit::kFailed;
        }
        if (!selected.success) {
            err << "kvctl: only root may address the table of another uid\n";
            return ctl_exit::kFailed;
        }
    }
    Reply count;
    Reply active;
    if (!Ask(device, MakeRequest(code::kCount), &count, err, &exitCode) ||
        !Ask(device, MakeRequest(code::kGetActive), &active, err, &exitCode))
        return exitCode;

    if (command == "status") {
        out << "uid: " << uidText.value_or(std::to_string(::getuid())) << "\n"
            << "entries: " << count.returned << "\n"
            << "active: " << (active.returned == 1 ? "yes" : "no") << "\n";
        Request mountsRequest = MakeRequest(code::kGetMounts);
        mountsRequest.outputSize = static_cast<std::uint32_t>(kMaxFrameBody - kReplyHeaderSize);
        Reply mounts;
        if (!Ask(device, mountsRequest, &mounts, err, &exitCode))
            return exitCode;
        out << "protection mounts: " << mounts.returned << "\n";
        for (std::size_t pos = 0; pos < mounts.output.size();) {
            const std::size_t nul = mounts.output.find('\0', pos);
            if (nul == std::string::npos)
                break;
            out << "  " << PrintableText(mounts.output.substr(pos, nul - pos)) << "\n";
            pos = nul + 1;
        }
        Reply refused;
        if (!Ask(device, MakeRequest(code::kGetDenialCount), &refused, err, &exitCode))
            return exitCode;
        out << "refused since protection started: " << refused.returned << "\n";
        Request coverageRequest = MakeRequest(code::kGetCoverage);
        coverageRequest.outputSize = static_cast<std::uint32_t>(kMaxFrameBody - kReplyHeaderSize);
        Reply coverage;
        if (!Ask(device, coverageRequest, &coverage, err, &exitCode))
            return exitCode;
        out << "enforcement of the entries:\n";
        std::size_t pos = 0;
        for (std::uint32_t i = 0; i < coverage.returned; ++i) {
            const std::size_t nul = coverage.output.find('\0', pos);
            if (nul == std::string::npos)
                break;
            Entry entry;
            if (!FetchEntry(device, i, &entry, err, &exitCode))
                return exitCode;
            out << "  " << i << " " << PrintableText(entry.FileMask) << ": "
                << PrintableText(coverage.output.substr(pos, nul - pos)) << "\n";
            pos = nul + 1;
        }
        // Root without --uid sees every account's table as well.
        if (!uidText && ::getuid() == 0 && !PrintTables(device, out, err, &exitCode))
            return exitCode;
        return ctl_exit::kOk;
    }
    if (command == "log") {
        std::uint32_t sequence = 0;
        if (!PrintDenials(device, &sequence, json, out, err, &exitCode))
            return exitCode;
        while (follow) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            if (!PrintDenials(device, &sequence, json, out, err, &exitCode))
                return exitCode;
        }
        return ctl_exit::kOk;
    }
    if (command == "entries") {
        for (std::uint32_t i = 0; i < count.returned; ++i) {
            Entry entry;
            if (!FetchEntry(device, i, &entry, err, &exitCode))
                return exitCode;
            out << EntryJson(i, entry) << "\n";
        }
        return ctl_exit::kOk;
    }
    Request check;
    check.code = code::kCheck;
    check.operation = operation;
    check.path = operands[0];
    check.process = process;
    Reply decision;
    if (!Ask(device, check, &decision, err, &exitCode))
        return exitCode;
    const char* note = active.returned == 1 ? "" : " (protection is not active now)";
    if (decision.returned == kAllowed) {
        out << "allowed" << note << "\n";
        return ctl_exit::kOk;
    }
    Entry entry;
    if (!FetchEntry(device, decision.returned, &entry, err, &exitCode))
        return exitCode;
    if (active.returned == 1) {
        // An entry that refuses on paper but that no engine reaches is no refusal.
        Request coverageRequest = MakeRequest(code::kGetCoverage);
        coverageRequest.outputSize = static_cast<std::uint32_t>(kMaxFrameBody - kReplyHeaderSize);
        Reply coverage;
        if (!Ask(device, coverageRequest, &coverage, err, &exitCode))
            return exitCode;
        std::size_t pos = 0;
        for (std::uint32_t i = 0; i < decision.returned && pos != std::string::npos; ++i) {
            pos = coverage.output.find('\0', pos);
            pos = pos == std::string::npos ? pos : pos + 1;
        }
        if (pos != std::string::npos && pos < coverage.output.size()) {
            const std::string how =
                coverage.output.substr(pos, coverage.output.find('\0', pos) - pos);
            if (const std::string why = NotEnforcedReason(how, operation); !why.empty()) {
                out << "not enforced (" << PrintableText(why) << "), though entry "
                    << decision.returned << " refuses it: " << EntryJson(decision.returned, entry)
                    << "\n";
                return ctl_exit::kNotEnforced;
            }
        }
    }
    out << "refused by entry " << decision.returned << note << ": "
        << EntryJson(decision.returned, entry) << "\n";
    return ctl_exit::kRefused;
}

std::string NotEnforcedReason(std::string_view coverage, std::uint32_t operation) {
    constexpr std::string_view kNot = "not enforced: ";
    if (coverage.starts_with(kNot))
        return std::string(coverage.substr(kNot.size()));
    if (coverage.starts_with(kOpenEventsCoverage) && (operation & kOpenEventBits) == 0)
        return "open events enforce only Open, Read and Full of files and Hide of folders";
    return {};
}

}  // namespace kv::driver
