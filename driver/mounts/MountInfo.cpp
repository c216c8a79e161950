#include "driver/mounts/MountInfo.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace kv::driver::mounts {

namespace {

std::string Unescape(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
            field[i + 1] <= '3' && field[i + 2] >= '0' && field[i + 2] <= '7' &&
            field[i + 3] >= '0' && field[i + 3] <= '7') {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                     (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
        const std::size_t end = std::min(line.find(' ', pos), line.size());
        if (end > pos)
            fields.push_back(line.substr(pos, end - pos));
        pos = end + 1;
    }
    return fields;
}

}  // namespace

std::vector<MountLine> ParseMountInfo(std::string_view text) {
    std::vector<MountLine> mounts;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        const std::vector<std::string_view> f = Fields(text.substr(pos, end - pos));
        pos = end + 1;
        // id parent major:minor root mount-point options [optional...] - type source super
        std::size_t dash = 6;
        while (dash < f.size() && f[dash] != "-")
            ++dash;
        if (f.size() < 7 || dash + 2 >= f.size())
            continue;
        MountLine line{std::string(f[2]), Unescape(f[4]), Unescape(f[dash + 1]),
                       Unescape(f[dash + 2])};
        line.id = std::atoi(std::string(f[0]).c_str());
        line.parent = std::atoi(std::string(f[1]).c_str());
        mounts.push_back(std::move(line));
    }
    return mounts;
}

std::vector<MountLine> ReadMountInfo() {
    const int fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string text;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ParseMountInfo(text);
}

const MountLine* FindMount(const std::vector<MountLine>& mounts, std::string_view device) {
    for (const MountLine& m : mounts) {
        if (m.device == device && m.fsType == kMountType)
            return &m;
    }
    return nullptr;
}

const MountLine* TopMountAt(const std::vector<MountLine>& mounts, std::string_view folder) {
    const MountLine* top = nullptr;
    for (const MountLine& m : mounts) {
        if (m.mountPoint != folder)
            continue;
        const bool covered = std::any_of(mounts.begin(), mounts.end(), [&](const MountLine& o) {
            return o.mountPoint == folder && o.parent == m.id && &o != &m;
        });
        if (!covered)
            top = &m;
    }
    return top;
}

void DetachIfTopmost(std::string_view device) {
    const std::vector<MountLine> mounts = ReadMountInfo();
    if (const MountLine* ours = FindMount(mounts, device)) {
        if (TopMountAt(mounts, ours->mountPoint) == ours)
            ::umount2(ours->mountPoint.c_str(), MNT_DETACH);
    }
}

}  // namespace kv::driver::mounts
