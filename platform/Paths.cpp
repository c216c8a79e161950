#include "platform/Paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/Files.h"

namespace kv::platform {

std::string ExecutablePath() {
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    return std::string(buffer, static_cast<std::size_t>(n));
}

std::string ExecutableDir() {
    return DirName(ExecutablePath());
}

std::string MachineDir() {
    if (const char* env = std::getenv("KESTRAVA_MACHINE"); env && *env)
        return env;
    return ExecutableDir() + "/machine";
}

std::string RuntimeDir() {
    if (const char* env = std::getenv("KESTRAVA_RUNTIME"); env && *env)
        return env;
    if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg) {
        return std::string(xdg) + "/kestrava";
    }
    return "/tmp/kestrava-" + std::to_string(::getuid());
}

std::string SettingsFilePath() {
    return ExecutableDir() + "/" + ProgramFiles::kSettings;
}

std::string DefaultAutostartDir() {
    return "/etc/xdg/autostart";
}

bool ProgramInstalled(const std::string& programDir) {
    if (programDir.empty())
        return false;
    struct stat folder;
    if (::stat(programDir.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
        return false;
    if (folder.st_uid != 0 || (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return false;
    struct stat marker;
    return ::stat((programDir + "/" + ProgramFiles::kInstalledMarker).c_str(), &marker) == 0 &&
           S_ISREG(marker.st_mode);
}

void KeepAdministratorFilesPrivate(const std::string& programDir) {
    if (::geteuid() != 0 || !ProgramInstalled(programDir))
        return;
    ::chmod((programDir + "/" + ProgramFiles::kSettings).c_str(), 0600);
    const std::string machine = programDir + "/machine";
    MakeDirs(machine, 0700);
    ::chmod(machine.c_str(), 0700);
}

bool MakeDirs(const std::string& path, unsigned mode) {
    if (path.empty())
        return false;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    const std::string parent = DirName(path);
    if (parent != path && !MakeDirs(parent, mode))
        return false;
    return ::mkdir(path.c_str(), mode) == 0 || errno == EEXIST;
}

}  // namespace kv::platform
