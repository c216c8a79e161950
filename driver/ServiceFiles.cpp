// The administrator's files, read and written through the service for a
// program run by a user who cannot reach them.
#include "driver/Service.h"

#include <cerrno>

namespace kv::driver {

Reply Service::ReadFile(const Request& request, uid_t caller) {
    if (!options_.authority)
        return Failure(ENOSYS);
    std::string data;
    if (const int error = options_.authority->ReadFile(request.file, caller, &data); error != 0)
        return Failure(static_cast<std::uint32_t>(error));
    Reply reply = Success(static_cast<std::uint32_t>(data.size()));
    if (request.offset < data.size())
        reply.output = data.substr(request.offset, request.outputSize);
    return reply;
}

void Service::DropStaging(Client& client) {
    staged_ -= client.staging.size();
    client.stagingFile = 0;
    client.staging.clear();
    client.staging.shrink_to_fit();
}

Reply Service::WriteFile(const Request& request, Client& client) {
    if (!options_.authority)
        return Failure(ENOSYS);
    if (request.flags & kFileRemove) {
        const int error = options_.authority->WriteFile(request.file, client.uid, nullptr);
        return error == 0 ? Success() : Failure(static_cast<std::uint32_t>(error));
    }
    if (request.flags & kFileFirst) {
        DropStaging(client);
        client.stagingFile = request.file;
    }
    if (client.stagingFile != request.file || client.stagingFile == 0)
        return Failure(EINVAL);  // a part of a file that was never begun
    if (client.staging.size() + request.data.size() > kMaxFileSize ||
        staged_ + request.data.size() > kMaxStaged) {
        DropStaging(client);
        return Failure(EFBIG);
    }
    client.staging += request.data;
    staged_ += request.data.size();
    if (!(request.flags & kFileLast))
        return Success();
    const int error =
        options_.authority->WriteFile(client.stagingFile, client.uid, &client.staging);
    if (error == 0)
        Log("uid " + std::to_string(client.uid) + " wrote file " +
            std::to_string(client.stagingFile));
    DropStaging(client);
    return error == 0 ? Success() : Failure(static_cast<std::uint32_t>(error));
}

}  // namespace kv::driver
