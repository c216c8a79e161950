#include "driver/mounts/MountGuard.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "driver/mounts/MountInfo.h"

namespace kv::driver::mounts {

namespace {

/// The guard's life: read "+ DEVICE FOLDER" and "- DEVICE" lines until the
/// service's end of the pipe closes, then detach what is still recorded.
[[noreturn]] void Guard(int fd) {
    std::map<std::string, std::string> folders;  // device -> folder
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            const std::size_t space = line.find(' ', 2);
            if (line.starts_with("+ ") && space != std::string::npos)
                folders[line.substr(2, space - 2)] = line.substr(space + 1);
            else if (line.starts_with("- "))
                folders.erase(line.substr(2));
        }
    }
    const std::vector<MountLine> mounts = ReadMountInfo();
    for (const auto& [device, folder] : folders) {
        // Found by device number: a folder above it may have been moved.
        const MountLine* ours = FindMount(mounts, device);
        if (ours && TopMountAt(mounts, ours->mountPoint) == ours)
            ::umount2(ours->mountPoint.c_str(), MNT_DETACH);
    }
    ::_exit(0);
}

}  // namespace

bool MountGuard::Start(std::string* error) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        *error = std::string("fork: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (pid == 0) {
        ::close(fds[1]);
        // Signals meant for the service (a terminal's Ctrl+C, a stop) are not
        // the guard's: it ends when the service has gone.
        ::signal(SIGINT, SIG_IGN);
        ::signal(SIGTERM, SIG_IGN);
        ::signal(SIGHUP, SIG_IGN);
        ::prctl(PR_SET_NAME, "kvvxd-guard");
        Guard(fds[0]);
    }
    ::close(fds[0]);
    fd_ = fds[1];
    pid_ = pid;
    return true;
}

void MountGuard::Stop() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (pid_ > 0)
        ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

void MountGuard::Send(const std::string& line) {
    if (fd_ < 0)
        return;
    std::string_view rest = line;
    while (!rest.empty()) {
        const ssize_t n = ::write(fd_, rest.data(), rest.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
}

void MountGuard::Made(const std::string& device, const std::string& folder) {
    Send("+ " + device + " " + folder + "\n");
}

void MountGuard::Removed(const std::string& device) {
    Send("- " + device + "\n");
}

}  // namespace kv::driver::mounts
