#include "platform/DosAttributes.h"

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstring>

#include "platform/Files.h"

namespace kv::platform {

namespace {

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The file system keeps no user extended attributes for this file.
bool Unsupported(int error) {
    return error == ENOTSUP || error == EOPNOTSUPP;
}

std::uint32_t ReadSidecar(const std::string& path) {
    std::string text;
    if (!ReadWholeFile(DosAttributeSidecarPath(path), &text))
        return 0;
    return ParseDosAttributeText(text).value_or(0);
}

bool WriteSidecar(const std::string& path, std::uint32_t attributes, std::string* error) {
    const std::string sidecar = DosAttributeSidecarPath(path);
    if (attributes == 0) {
        if (DeleteFileIfExists(sidecar))
            return true;
        if (error)
            *error = "cannot remove " + sidecar + ": " + std::strerror(errno);
        return false;
    }
    return WriteFileAtomically(sidecar, FormatDosAttributeText(attributes), error);
}

}  // namespace

std::string DosAttributeSidecarPath(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return folder + "." + name + ".DOSATTRIB";
}

std::optional<std::uint32_t> ParseDosAttributeText(const std::string& text) {
    const std::string_view digits = std::string_view(text).substr(0, text.find('\0'));
    if (digits.size() < 3 || digits.size() > 10 || digits[0] != '0' ||
        (digits[1] != 'x' && digits[1] != 'X'))
        return std::nullopt;
    std::uint32_t value = 0;
    for (char c : digits.substr(2)) {
        int nibble;
        if (c >= '0' && c <= '9')
            nibble = c - '0';
        else if (c >= 'a' && c <= 'f')
            nibble = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            nibble = c - 'A' + 10;
        else
            return std::nullopt;
        value = (value << 4) | static_cast<std::uint32_t>(nibble);
    }
    return value;
}

std::string FormatDosAttributeText(std::uint32_t attributes) {
    static const char hex[] = "0123456789abcdef";
    std::string digits;
    do {
        digits.insert(digits.begin(), hex[attributes & 0xF]);
        attributes >>= 4;
    } while (attributes != 0);
    return "0x" + digits;
}

std::optional<std::uint32_t> GetDosAttributes(const std::string& path, DosAttributeStore store) {
    if (!IsRegularFile(path))
        return std::nullopt;
    if (store == DosAttributeStore::Auto) {
        std::string buffer(256, '\0');
        ssize_t n = ::getxattr(path.c_str(), kDosAttribName, buffer.data(), buffer.size());
        if (n < 0 && errno == ERANGE) {  // a longer form written by another program
            const ssize_t needed = ::getxattr(path.c_str(), kDosAttribName, nullptr, 0);
            if (needed > 0) {
                buffer.resize(static_cast<std::size_t>(needed));
                n = ::getxattr(path.c_str(), kDosAttribName, buffer.data(), buffer.size());
            }
        }
        if (n >= 0) {
            buffer.resize(static_cast<std::size_t>(n));
            return ParseDosAttributeText(buffer).value_or(0);
        }
        // No attribute here: a sidecar left by a copy from another file
        // system still counts.
        if (errno != ENODATA && !Unsupported(errno))
            return 0;
    }
    return ReadSidecar(path);
}

bool SetDosAttributes(const std::string& path, std::uint32_t attributes, DosAttributeStore store,
                      std::string* error) {
    if (!IsRegularFile(path)) {
        if (error)
            *error = path + " does not exist";
        return false;
    }
    if (store == DosAttributeStore::Auto) {
        int result;
        if (attributes == 0) {
            result = ::removexattr(path.c_str(), kDosAttribName);
            if (result != 0 && errno == ENODATA)
                result = 0;
        } else {
            const std::string text = FormatDosAttributeText(attributes);
            result = ::setxattr(path.c_str(), kDosAttribName, text.data(), text.size(), 0);
        }
        if (result == 0)
            return WriteSidecar(path, 0, error);  // no stale sidecar may contradict it
        if (!Unsupported(errno)) {
            if (error)
                *error = "cannot set the attributes of " + path + ": " + std::strerror(errno);
            return false;
        }
    }
    return WriteSidecar(path, attributes, error);
}

}  // namespace kv::platform
