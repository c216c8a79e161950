#include "platform/Folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace kv::platform {

bool ListFolder(const std::string& path, std::vector<FolderEntry>* entries, std::string* error) {
    entries->clear();
    DIR* dir = ::opendir(path.c_str());
    if (!dir) {
        if (error)
            *error = std::strerror(errno);
        return false;
    }
    const int fd = ::dirfd(dir);
    while (const dirent* d = ::readdir(dir)) {
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0)
            continue;
        FolderEntry entry;
        entry.name = d->d_name;
        struct stat st {};
        if (::fstatat(fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISLNK(st.st_mode)) {
                entry.isLink = true;
                struct stat target {};
                if (::fstatat(fd, d->d_name, &target, 0) == 0)
                    st = target;
            }
            entry.isFolder = S_ISDIR(st.st_mode);
            // A folder's link count is 2 plus its subfolders on most file
            // systems; file systems that do not count report 1.
            entry.mayHaveSubfolders = entry.isFolder && st.st_nlink != 2;
            entry.writable = (st.st_mode & S_IWUSR) != 0;
            entry.size = static_cast<std::int64_t>(st.st_size);
            entry.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec);
        } else if (d->d_type == DT_DIR) {
            entry.isFolder = true;
            entry.mayHaveSubfolders = true;
        }
        entries->push_back(std::move(entry));
    }
    ::closedir(dir);
    return true;
}

}  // namespace kv::platform
