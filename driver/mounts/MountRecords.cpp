#include "driver/mounts/MountRecords.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "driver/StateFile.h"
#include "driver/mounts/MountInfo.h"

namespace kv::driver::mounts {

namespace {

std::string Hex(const unsigned char* bytes, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

bool Unhex(std::string_view text, std::vector<unsigned char>* bytes) {
    if (text.size() % 2 != 0)
        return false;
    auto value = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    bytes->clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = value(text[i]);
        const int low = value(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes->push_back(static_cast<unsigned char>(high * 16 + low));
    }
    return true;
}

bool Clean(std::string_view field) {
    return field.find_first_of("\t\n") == std::string_view::npos;
}

}  // namespace

std::string SerializeMountRecords(const std::vector<MountRecord>& records) {
    std::string text;
    for (const MountRecord& r : records) {
        if (!Clean(r.device) || !Clean(r.folder) || !Clean(r.lowerMount) || !Clean(r.handle))
            continue;
        text += r.device + '\t' + r.folder + '\t' + r.lowerMount + '\t' + r.handle + '\n';
    }
    return text;
}

std::vector<MountRecord> ParseMountRecords(std::string_view text) {
    std::vector<MountRecord> records;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        std::vector<std::string> fields;
        std::size_t at = 0;
        for (;;) {
            const std::size_t tab = line.find('\t', at);
            fields.emplace_back(
                line.substr(at, tab == std::string_view::npos ? line.npos : tab - at));
            if (tab == std::string_view::npos)
                break;
            at = tab + 1;
        }
        if (fields.size() != 4 || fields[0].empty() || fields[1].empty() || fields[1][0] != '/')
            continue;
        records.push_back({fields[0], fields[1], fields[2], fields[3]});
    }
    return records;
}

std::vector<MountRecord> ReadMountRecords(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return ParseMountRecords(text.str());
}

bool WriteMountRecords(const std::string& path, const std::vector<MountRecord>& records) {
    std::string error;
    return ReplaceFile(path, SerializeMountRecords(records), false, &error);
}

MountRecord RecordFolder(const std::string& folder, int folderFd) {
    MountRecord record;
    record.folder = folder;
    std::vector<unsigned char> bytes(sizeof(file_handle) + MAX_HANDLE_SZ);
    auto* handle = reinterpret_cast<file_handle*>(bytes.data());
    handle->handle_bytes = MAX_HANDLE_SZ;
    int mountId = 0;
    if (::name_to_handle_at(folderFd, "", handle, &mountId, AT_EMPTY_PATH) != 0)
        return record;
    for (const MountLine& m : ReadMountInfo()) {
        if (m.id == mountId)
            record.lowerMount = m.mountPoint;
    }
    if (!record.lowerMount.empty())
        record.handle = Hex(bytes.data(), sizeof(file_handle) + handle->handle_bytes);
    return record;
}

int OpenRecordedFolder(const MountRecord& record) {
    std::vector<unsigned char> bytes;
    if (record.lowerMount.empty() || !Unhex(record.handle, &bytes) ||
        bytes.size() < sizeof(file_handle)) {
        errno = ESTALE;
        return -1;
    }
    auto* handle = reinterpret_cast<file_handle*>(bytes.data());
    if (sizeof(file_handle) + handle->handle_bytes != bytes.size()) {
        errno = ESTALE;
        return -1;
    }
    const int mountFd = ::open(record.lowerMount.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (mountFd < 0)
        return -1;
    const int fd = ::open_by_handle_at(mountFd, handle, O_PATH | O_DIRECTORY | O_CLOEXEC);
    const int error = errno;
    ::close(mountFd);
    errno = error;
    return fd;
}

}  // namespace kv::driver::mounts
