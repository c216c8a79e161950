#include "platform/ServiceFiles.h"

#include <cerrno>
#include <cstdlib>

#include "platform/Paths.h"

namespace kv::platform {

namespace {

/// File bytes per request, well inside the largest frame.
constexpr std::uint32_t kChunk = 48 * 1024;

}  // namespace

TServiceFiles::Paths TServiceFiles::ProgramPaths(const std::string& userName) {
    Paths paths;
    paths.settings = SettingsFilePath();
    paths.autostart = DefaultAutostartDir() + "/kestrava.desktop";
    // A machine folder of the user's own choosing is the user's to read.
    const std::string own = ExecutableDir() + "/machine";
    if (MachineDir() == own) {
        paths.machineFolder = own;
        paths.machineRegistry = own + "/registry/HKLM.reg";
        if (!userName.empty())
            paths.userRegistry = own + "/registry/HKCU/" + userName + ".reg";
        paths.bootFile = own + "/drive_c/msdos.sys";
    }
    return paths;
}

TServiceFiles::TServiceFiles(std::string devicePath, Paths paths)
    : devicePath_(std::move(devicePath)), paths_(std::move(paths)) {}

std::uint32_t TServiceFiles::IdOf(const std::string& path) const {
    if (path.empty())
        return 0;
    if (path == paths_.settings)
        return driver::file::kSettings;
    if (path == paths_.machineRegistry)
        return driver::file::kMachineRegistry;
    if (path == paths_.userRegistry)
        return driver::file::kUserRegistry;
    if (path == paths_.bootFile)
        return driver::file::kBootFile;
    if (path == paths_.autostart)
        return driver::file::kAutostart;
    return 0;
}

int TServiceFiles::Connect(std::uint32_t id, driver::DeviceClient* client) const {
    std::string error;
    if (id == 0 || !client->Open(devicePath_, &error))
        return EACCES;
    // The administrator's files and password: from and to root's service only.
    if (client->PeerUid() != 0)
        return EACCES;
    if (password_)
        return 0;
    driver::Reply reply;
    if (!client->Transact(driver::MakeRequest(driver::code::kCheckPassword), &reply, &error))
        return EIO;
    return reply.success ? 0 : EACCES;
}

int TServiceFiles::Read(const std::string& path, std::string* data) {
    data->clear();
    driver::DeviceClient client;
    std::string error;
    const std::uint32_t id = IdOf(path);
    if (const int refused = Connect(id, &client); refused != 0)
        return refused;
    for (;;) {
        driver::Request request = driver::MakeRequest(driver::code::kReadFile);
        request.password = password_;
        request.file = id;
        request.offset = static_cast<std::uint32_t>(data->size());
        request.outputSize = kChunk;
        driver::Reply reply;
        if (!client.Transact(request, &reply, &error))
            return EIO;
        if (!reply.success) {
            data->clear();
            return reply.returned != 0 ? static_cast<int>(reply.returned) : EACCES;
        }
        *data += reply.output;
        if (data->size() >= reply.returned || reply.output.empty())
            return 0;
    }
}

int TServiceFiles::Write(const std::string& path, const std::string* data) {
    driver::DeviceClient client;
    std::string error;
    const std::uint32_t id = IdOf(path);
    if (const int refused = Connect(id, &client); refused != 0)
        return refused;
    std::size_t sent = 0;
    do {
        driver::Request request = driver::MakeRequest(driver::code::kWriteFile);
        request.password = password_;
        request.file = id;
        if (!data) {
            request.flags = driver::kFileRemove;
        } else {
            request.data = data->substr(sent, kChunk);
            request.flags = (sent == 0 ? driver::kFileFirst : 0) |
                            (sent + request.data.size() >= data->size() ? driver::kFileLast : 0);
            sent += request.data.size();
        }
        driver::Reply reply;
        if (!client.Transact(request, &reply, &error))
            return EIO;
        if (!reply.success)
            return reply.returned != 0 ? static_cast<int>(reply.returned) : EACCES;
    } while (data && sent < data->size());
    return 0;
}

}  // namespace kv::platform
