#include "options/BootLoader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "platform/Commands.h"
#include "platform/Files.h"

namespace kv {

namespace {

bool AllHex(std::string_view text) {
    if (text.empty())
        return false;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

}  // namespace

std::string GrubDropInText() {
    return "# Written by Kestrava (Set Boot Protection); removed when it is switched off.\n"
           "# No boot menu and no waiting for a key, and no recovery entries: the\n"
           "# system starts only the way in which its protection is in force.\n"
           "GRUB_TIMEOUT_STYLE=hidden\n"
           "GRUB_TIMEOUT=0\n"
           "GRUB_RECORDFAIL_TIMEOUT=0\n"
           "GRUB_DISABLE_RECOVERY=true\n";
}

bool IsGrubPbkdf2Hash(std::string_view hash) {
    constexpr std::string_view kPrefix = "grub.pbkdf2.sha512.";
    if (!hash.starts_with(kPrefix))
        return false;
    hash.remove_prefix(kPrefix.size());
    const std::size_t dot1 = hash.find('.');
    if (dot1 == std::string_view::npos || dot1 == 0)
        return false;
    for (char c : hash.substr(0, dot1)) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    }
    const std::string_view rest = hash.substr(dot1 + 1);
    const std::size_t dot2 = rest.find('.');
    return dot2 != std::string_view::npos && AllHex(rest.substr(0, dot2)) &&
           AllHex(rest.substr(dot2 + 1));
}

std::string GrubPasswordScript(const std::string& hash) {
    // The generated entries take their options from $menuentry_id_option
    // (set by 00_header): prefixing --unrestricted lets them boot without the
    // password, while editing an entry and the GRUB command line need it.
    return std::string(
               "#!/bin/sh\n"
               "# Written by Kestrava (Set Boot Protection); removed when it is switched off.\n"
               "# The administrator's password guards editing the boot entries and the\n"
               "# boot loader's command line; the entries themselves boot without it.\n"
               "cat <<'EOF'\n"
               "set superusers=\"") +
           kGrubSuperuser +
           "\"\n"
           "export superusers\n"
           "password_pbkdf2 " +
           kGrubSuperuser + " " + hash +
           "\n"
           "menuentry_id_option=\"--unrestricted $menuentry_id_option\"\n"
           "export menuentry_id_option\n"
           "EOF\n";
}

std::optional<std::string> TSystemBootLoaderTools::HashPassword(const std::string& password,
                                                                std::string* error) {
    if (password.find('\n') != std::string::npos) {
        *error = "a password with a line break cannot be given to the boot loader";
        return std::nullopt;
    }
    std::string output;
    const int status = platform::RunCommand({"grub-mkpasswd-pbkdf2"},
                                            password + "\n" + password + "\n", &output, error);
    const std::size_t at = output.find("grub.pbkdf2.");
    if (status != 0 || at == std::string::npos) {
        if (error->empty())
            *error = "grub-mkpasswd-pbkdf2 made no hash";
        return std::nullopt;
    }
    std::string hash = output.substr(at);
    while (!hash.empty() && std::isspace(static_cast<unsigned char>(hash.back())))
        hash.pop_back();
    if (!IsGrubPbkdf2Hash(hash)) {
        *error = "grub-mkpasswd-pbkdf2 made no hash";
        return std::nullopt;
    }
    return hash;
}

bool TSystemBootLoaderTools::UpdateConfig(std::string* error) {
    if (!updates_)
        return true;
    const std::string program = platform::FindProgram("update-grub");
    if (program.empty())
        return true;  // the configuration is made by hand on this system
    std::string output;
    if (platform::RunCommand({program}, "", &output, error) != 0) {
        if (error->empty())
            *error = "update-grub failed";
        return false;
    }
    return true;
}

bool TBootLoaderLock::Present() const {
    return platform::FileExists(root_ + kGrubDefaults);
}

bool TBootLoaderLock::Put(const char* file, const std::string& text, unsigned mode, bool* changed) {
    const std::string path = root_ + file;
    std::string now;
    struct stat st {};
    if (platform::ReadWholeFile(path, &now) && now == text && ::stat(path.c_str(), &st) == 0 &&
        (st.st_mode & 07777) == mode)
        return true;
    const std::string folder = path.substr(0, path.rfind('/'));
    ::mkdir(folder.c_str(), 0755);  // grub.d of the defaults may not exist yet
    if (!platform::WriteFileAtomically(path, text, &lastError_))
        return false;
    if (::chmod(path.c_str(), mode) != 0) {
        lastError_ = "cannot set the mode of " + path + ": " + std::strerror(errno);
        return false;
    }
    *changed = true;
    return true;
}

bool TBootLoaderLock::Remove(const char* file, bool* changed) {
    const std::string path = root_ + file;
    if (!platform::FileExists(path))
        return true;
    if (!platform::DeleteFileIfExists(path)) {
        lastError_ = "cannot remove " + path + ": " + std::strerror(errno);
        return false;
    }
    *changed = true;
    return true;
}

bool TBootLoaderLock::Apply(bool on, const std::string& password) {
    lastError_.clear();
    bool changed = false;
    bool ok = true;
    if (on && !Present()) {
        lastError_ = "this computer has no GRUB boot loader (no " + root_ + kGrubDefaults + ")";
        return false;
    }
    if (on) {
        ok = Put(kGrubDropIn, GrubDropInText(), 0644, &changed);
        if (ok && password.empty()) {
            ok = Remove(kGrubScript, &changed);
            lastError_ = "no administrator's password is set: the boot entries can be edited";
        } else if (ok) {
            std::string error;
            const std::optional<std::string> hash = tools_.HashPassword(password, &error);
            // The script holds the hash: root's alone, and run by update-grub.
            if (!hash)
                lastError_ = error;
            else if (!IsGrubPbkdf2Hash(*hash))
                lastError_ = "the password's hash is not of GRUB's form";
            ok = hash && IsGrubPbkdf2Hash(*hash) &&
                 Put(kGrubScript, GrubPasswordScript(*hash), 0700, &changed);
        }
    } else {
        ok = Remove(kGrubDropIn, &changed);
        ok = Remove(kGrubScript, &changed) && ok;
    }
    if (changed) {
        std::string error;
        if (!tools_.UpdateConfig(&error)) {
            lastError_ = error;
            return false;
        }
    }
    return ok;
}

}  // namespace kv
