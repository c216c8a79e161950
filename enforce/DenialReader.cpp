#include "enforce/DenialReader.h"

#include <unistd.h>

#include "driver/ControlCodes.h"
#include "driver/Protocol.h"
#include "platform/InterceptorDevice.h"

namespace kv {

namespace code = driver::code;

namespace {

constexpr uid_t kEveryUid = static_cast<uid_t>(-1);

/// Has the connection act on `uid`'s table (kEveryUid: read every uid's
/// refusals), which takes root or the administrator's `password`.
bool Select(platform::InterceptorDevice& device, uid_t uid,
            const std::optional<std::string>& password) {
    driver::Request select = driver::MakeRequest(code::kSelectUid);
    select.uid = uid;
    return device.Send(std::move(select), password, nullptr);
}

/// A connection acting on `uid`'s table; false when there is none or the
/// service refuses the selection.
bool OpenFor(platform::InterceptorDevice& device, const std::string& path, uid_t uid,
             const std::optional<std::string>& password) {
    if (!device.Open(path))
        return false;
    return uid == ::geteuid() || Select(device, uid, password);
}

}  // namespace

TDenialReader::TDenialReader(std::string devicePath) : devicePath_(std::move(devicePath)) {}

std::optional<std::uint32_t> TDenialReader::CountOf(uid_t uid) const {
    platform::InterceptorDevice device;
    if (!OpenFor(device, devicePath_, uid, password_))
        return std::nullopt;
    driver::Reply reply;
    if (!device.Exchange(driver::MakeRequest(code::kGetDenialCount), &reply) || !reply.success)
        return std::nullopt;
    return reply.returned;
}

std::optional<std::vector<driver::Denial>> TDenialReader::After(std::uint32_t sequence) const {
    platform::InterceptorDevice device;
    if (!device.Open(devicePath_))
        return std::nullopt;
    // Root reads every uid's refusals anyway; the administrator at another
    // account once the password is known (else only their own).
    if (::geteuid() != 0 && password_)
        (void)Select(device, kEveryUid, password_);
    std::vector<driver::Denial> out;
    for (;;) {
        driver::Request request = driver::MakeRequest(code::kGetDenials);
        request.index = sequence;
        request.outputSize =
            static_cast<std::uint32_t>(driver::kMaxFrameBody - driver::kReplyHeaderSize);
        driver::Reply reply;
        if (!device.Exchange(request, &reply) || !reply.success)
            return out.empty() ? std::nullopt : std::optional(out);
        std::size_t offset = 0;
        for (std::uint32_t i = 0; i < reply.returned; ++i) {
            driver::Denial denial;
            // A damaged record ends the reading: what came before stays good.
            if (!driver::DecodeDenial(reply.output, &offset, &denial))
                return out;
            sequence = denial.sequence;
            out.push_back(std::move(denial));
        }
        if (reply.returned == 0)
            return out;
    }
}

std::string TDenialReader::EntryMask(uid_t uid, std::uint32_t index) const {
    platform::InterceptorDevice device;
    if (!OpenFor(device, devicePath_, uid, password_))
        return {};
    driver::Request request = driver::MakeRequest(code::kGetEntry);
    request.index = index;
    request.outputSize =
        static_cast<std::uint32_t>(driver::kMaxFrameBody - driver::kReplyHeaderSize);
    driver::Reply reply;
    driver::Entry entry;
    if (!device.Exchange(request, &reply) || !reply.success ||
        !driver::DecodeEntryOutput(reply.output, &entry))
        return {};
    return entry.FileMask;
}

}  // namespace kv
