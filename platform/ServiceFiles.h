#pragma once

#include <optional>
#include <string>

#include "driver/DeviceClient.h"
#include "platform/Files.h"

namespace kv::platform {

/// The administrator's files for a program run by another user: the settings
/// beside the program, the registry files and the boot file of the program's
/// own machine folder, and the machine-wide autostart entry, read and written
/// through the interceptor service by name (the service decides where they
/// are), with the password the gate accepted.
class TServiceFiles : public IFileBroker {
public:
    struct Paths {
        std::string settings;         ///< kv.dat beside the program
        std::string machineFolder;    ///< the program's own machine folder
        std::string machineRegistry;  ///< empty when the machine folder is not the program's
        std::string userRegistry;
        std::string bootFile;
        std::string autostart;
    };
    /// The paths of the running program, for the user `userName`; the machine
    /// folder's files only when the program uses its own machine folder.
    static Paths ProgramPaths(const std::string& userName);

    TServiceFiles(std::string devicePath, Paths paths);

    void SetPassword(std::optional<std::string> password) { password_ = std::move(password); }

    bool Handles(const std::string& path) const override { return IdOf(path) != 0; }
    int Read(const std::string& path, std::string* data) override;
    int Write(const std::string& path, const std::string* data) override;

private:
    std::uint32_t IdOf(const std::string& path) const;
    /// Opens a connection for a request about file `id`: refused (EACCES)
    /// without asking when a password is set and none is known yet, so that
    /// a program that merely starts never counts as a wrong try.
    int Connect(std::uint32_t id, driver::DeviceClient* client) const;

    std::string devicePath_;
    Paths paths_;
    std::optional<std::string> password_;
};

}  // namespace kv::platform
