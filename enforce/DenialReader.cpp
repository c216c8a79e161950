#include "enforce/DenialReader.h"

#include <unistd.h>

#include "driver/ControlCodes.h"
#include "driver/Protocol.h"
#include "platform/InterceptorDevice.h"

namespace kv {

namespace code = driver::code;

namespace {

/// A connection acting on `uid`'s table; false when there is none or the
/// service refuses the selection.
bool OpenFor(platform::InterceptorDevice& device, const std::string& path, uid_t uid) {
    if (!device.Open(path))
        return false;
    if (uid == ::geteuid())
        return true;
    driver::Request select = driver::MakeRequest(code::kSelectUid);
    select.uid = uid;
    driver::Reply reply;
    return device.Exchange(select, &reply) && reply.success;
}

}  // namespace

TDenialReader::TDenialReader(std::string devicePath) : devicePath_(std::move(devicePath)) {}

std::optional<std::uint32_t> TDenialReader::CountOf(uid_t uid) const {
    platform::InterceptorDevice device;
    if (!OpenFor(device, devicePath_, uid))
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
    if (!OpenFor(device, devicePath_, uid))
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
