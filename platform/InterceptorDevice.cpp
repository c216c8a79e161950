#include "platform/InterceptorDevice.h"

namespace kv::platform {

bool InterceptorDevice::Open(const std::string& path) {
    lastError_.clear();
    return client_.Open(path.empty() ? DefaultPath() : path, &lastError_);
}

bool InterceptorDevice::Request(std::uint32_t code, const std::optional<std::string>& password,
                                const EntryRecordTexts* record, std::uint32_t outputSize,
                                std::uint32_t* returned) {
    kv::driver::Request request;
    request.code = code;
    request.outputSize = outputSize;
    if (record)
        request.record = *record;
    return Send(std::move(request), password, returned);
}

bool InterceptorDevice::Send(kv::driver::Request request,
                             const std::optional<std::string>& password, std::uint32_t* returned) {
    // The administrator's password goes to root's service only.
    request.password.reset();
    if (client_.PeerUid() == 0)
        request.password = password;
    kv::driver::Reply reply;
    if (!client_.IsOpen()) {
        lastError_ = "the interceptor device is not open";
        reply = {};
    } else if (!client_.Transact(request, &reply, &lastError_)) {
        reply = {};
    } else if (!reply.success) {
        lastError_ = "the interceptor refused the request";
    }
    if (returned)
        *returned = reply.returned;
    return reply.success;
}

bool InterceptorDevice::Exchange(const kv::driver::Request& request, kv::driver::Reply* reply) {
    *reply = {};
    if (!client_.IsOpen()) {
        lastError_ = "the interceptor device is not open";
        return false;
    }
    return client_.Transact(request, reply, &lastError_);
}

std::optional<std::string> InterceptorDevice::FolderCoverage(const std::string& folder) {
    kv::driver::Request request;
    request.code = kv::driver::code::kGetFolderCoverage;
    request.path = folder;
    request.outputSize = 4096;
    kv::driver::Reply reply;
    if (!Exchange(request, &reply) || !reply.success)
        return std::nullopt;
    return reply.output;
}

}  // namespace kv::platform
