#pragma once

// The wire format of the interceptor device. All integers are unsigned 32-bit
// little-endian. A frame is `length` (bytes that follow) and a body. A request
// body is code, password, input size, output size, the input bytes, then a
// text area; a "pointer" is the offset of a NUL-terminated text from the
// first byte of the body (0 is null) and must point into the text area. A
// reply body is success (1 or 0), returned value, then the output bytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "driver/ControlCodes.h"

namespace kv::driver {

/// Largest body accepted in either direction.
inline constexpr std::size_t kMaxFrameBody = 64 * 1024;
/// Code, password, input size and output size.
inline constexpr std::size_t kRequestHeaderSize = 16;
inline constexpr std::size_t kReplyHeaderSize = 8;

/// The texts of one entry as the service keeps them.
struct Entry {
    std::uint32_t dwOperation = 0;
    std::string FileMask;
    std::string ExcludeFiles;
    std::string Processes;
    std::string ExcludeProc;

    bool operator==(const Entry&) const = default;
};

/// The 28-byte entry record with its pointers resolved: nullopt is a null pointer.
struct EntryRecordTexts {
    std::uint32_t dwOperation = 0;
    std::optional<std::string> FileMask;
    std::optional<std::string> ExcludeFiles;
    std::optional<std::string> Processes;
    std::optional<std::string> ExcludeProc;
    std::optional<std::string> Password;
    std::int32_t Reserved = -1;
};

/// One request, decoded. Only the fields of its code are meaningful.
struct Request {
    std::uint32_t code = 0;
    std::optional<std::string> password;
    std::uint32_t outputSize = 0;
    EntryRecordTexts record;               // add entry
    std::uint32_t operation = 0;           // check
    std::string path;                      // check
    std::string process;                   // check
    std::uint32_t index = 0;               // get entry; get denials: the sequence to start after
    std::uint32_t uid = 0;                 // select uid
    std::optional<std::string> principal;  // load rules
    std::uint32_t file = 0;                // read or write file: the file id
    std::uint32_t offset = 0;              // read file
    std::uint32_t flags = 0;               // write file
    std::string data;                      // write file
    std::uint32_t origin = 0;              // set origin
};

/// A request of `code` with no input (activate, deactivate, clear, count, ...).
inline Request MakeRequest(std::uint32_t code) {
    Request request;
    request.code = code;
    return request;
}

struct Reply {
    bool success = false;
    std::uint32_t returned = 0;
    std::string output;
};

/// Replies with a returned value and no output.
inline Reply Success(std::uint32_t returned = 0) {
    return Reply{true, returned, {}};
}
inline Reply Failure(std::uint32_t returned = 0) {
    return Reply{false, returned, {}};
}

/// The input size that a known code requires, or nullopt for an unknown code;
/// for a write-file request, the size of its fixed part (its bytes follow).
std::optional<std::uint32_t> ExpectedInputSize(std::uint32_t code);

/// A whole request frame (length prefix included) for `request.code`, with
/// the input that code takes.
std::string EncodeRequest(const Request& request);
/// Decodes a request body (the bytes after the length). False, with a reason
/// in `error`, for a short body, sizes or offsets out of range, a text without
/// NUL, a null text where one is required, or an unknown code.
[[nodiscard]] bool DecodeRequest(std::string_view body, Request* request, std::string* error);

/// A whole reply frame (length prefix included).
std::string EncodeReply(const Reply& reply);
[[nodiscard]] bool DecodeReply(std::string_view body, Reply* reply, std::string* error);

/// Output of a get-denials request: one record.
void EncodeDenial(const struct Denial& denial, std::string* out);
/// Reads the record at `*offset` and moves past it; false when it is cut short.
[[nodiscard]] bool DecodeDenial(std::string_view output, std::size_t* offset,
                                struct Denial* denial);

/// Output of a get-entry request.
std::string EncodeEntryOutput(const Entry& entry);
[[nodiscard]] bool DecodeEntryOutput(std::string_view output, Entry* entry);

/// An entry as kept by the service: null texts become empty texts. False when
/// FileMask is null.
[[nodiscard]] bool EntryFromRecord(const EntryRecordTexts& record, Entry* entry);

void PutU32(std::string* out, std::uint32_t value);
std::uint32_t GetU32(std::string_view bytes, std::size_t offset);

}  // namespace kv::driver
