#include "driver/Protocol.h"

#include <vector>

#include "driver/DenialLog.h"

namespace kv::driver {

void PutU32(std::string* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint32_t GetU32(std::string_view bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value =
            (value << 8) | static_cast<unsigned char>(bytes[offset + static_cast<std::size_t>(i)]);
    return value;
}

std::optional<std::uint32_t> ExpectedInputSize(std::uint32_t code) {
    switch (code) {
        case code::kAddEntry:
            return kEntryRecordSize;
        case code::kActivate:
        case code::kDeactivate:
        case code::kClear:
        case code::kCount:
        case code::kGetActive:
        case code::kGetMounts:
        case code::kCheckPassword:
        case code::kGetDenialCount:
        case code::kGetCoverage:
        case code::kGetTables:
        case code::kLoadEveryAccount:
        case code::kSessionOpened:
            return 0;
        case code::kCheck:
            return 12;
        case code::kReadFile:
        case code::kWriteFile:
            return 8;
        case code::kGetEntry:
        case code::kSelectUid:
        case code::kLoadRules:
        case code::kGetDenials:
        case code::kSetOrigin:
        case code::kGetFolderCoverage:
            return 4;
        default:
            return std::nullopt;
    }
}

namespace {

/// Collects the input words and the text area of a request being encoded;
/// text pointers are patched once the size of the input is known.
class BodyBuilder {
public:
    void Word(std::uint32_t value) { words_.push_back({value, std::nullopt}); }
    void Text(const std::optional<std::string>& text) { words_.push_back({0, text}); }
    /// Bytes of the input after its words.
    void Raw(const std::string& bytes) { raw_ = bytes; }

    std::string Build(std::uint32_t code, const std::optional<std::string>& password,
                      std::uint32_t outputSize) {
        const std::size_t inputSize = 4 * words_.size() + raw_.size();
        const std::size_t textStart = kRequestHeaderSize + inputSize;
        std::string texts;
        auto place = [&](const std::optional<std::string>& text) -> std::uint32_t {
            if (!text)
                return 0;
            const auto offset = static_cast<std::uint32_t>(textStart + texts.size());
            texts += *text;
            texts.push_back('\0');
            return offset;
        };
        std::string body;
        PutU32(&body, code);
        PutU32(&body, place(password));
        PutU32(&body, static_cast<std::uint32_t>(inputSize));
        PutU32(&body, outputSize);
        for (const auto& [value, text] : words_)
            PutU32(&body, text ? place(text) : value);
        body += raw_;
        body += texts;
        std::string frame;
        PutU32(&frame, static_cast<std::uint32_t>(body.size()));
        return frame + body;
    }

private:
    std::vector<std::pair<std::uint32_t, std::optional<std::string>>> words_;
    std::string raw_;
};

/// Resolves a pointer of a request body: null, or a NUL-terminated text that
/// starts inside the text area.
bool ReadText(std::string_view body, std::size_t textStart, std::uint32_t offset, const char* what,
              std::optional<std::string>* text, std::string* error) {
    if (offset == 0) {
        text->reset();
        return true;
    }
    if (offset < textStart || offset >= body.size()) {
        *error =
            std::string(what) + ": offset " + std::to_string(offset) + " outside the text area";
        return false;
    }
    const std::size_t nul = body.find('\0', offset);
    if (nul == std::string_view::npos) {
        *error = std::string(what) + ": text without NUL";
        return false;
    }
    *text = std::string(body.substr(offset, nul - offset));
    return true;
}

bool ReadRequiredText(std::string_view body, std::size_t textStart, std::uint32_t offset,
                      const char* what, std::string* text, std::string* error) {
    std::optional<std::string> value;
    if (!ReadText(body, textStart, offset, what, &value, error))
        return false;
    if (!value) {
        *error = std::string(what) + ": null pointer";
        return false;
    }
    *text = std::move(*value);
    return true;
}

}  // namespace

std::string EncodeRequest(const Request& request) {
    BodyBuilder builder;
    switch (request.code) {
        case code::kAddEntry: {
            const EntryRecordTexts& r = request.record;
            builder.Word(r.dwOperation);
            builder.Text(r.FileMask);
            builder.Text(r.ExcludeFiles);
            builder.Text(r.Processes);
            builder.Text(r.ExcludeProc);
            builder.Text(r.Password);
            builder.Word(static_cast<std::uint32_t>(r.Reserved));
            break;
        }
        case code::kCheck:
            builder.Word(request.operation);
            builder.Text(request.path);
            builder.Text(request.process);
            break;
        case code::kGetEntry:
        case code::kGetDenials:
            builder.Word(request.index);
            break;
        case code::kSelectUid:
            builder.Word(request.uid);
            break;
        case code::kSetOrigin:
            builder.Word(request.origin);
            break;
        case code::kLoadRules:
            builder.Text(request.principal);
            break;
        case code::kGetFolderCoverage:
            builder.Text(request.path);
            break;
        case code::kReadFile:
            builder.Word(request.file);
            builder.Word(request.offset);
            break;
        case code::kWriteFile:
            builder.Word(request.file);
            builder.Word(request.flags);
            builder.Raw(request.data);
            break;
        default:
            break;
    }
    return builder.Build(request.code, request.password, request.outputSize);
}

bool DecodeRequest(std::string_view body, Request* request, std::string* error) {
    *request = Request{};
    if (body.size() < kRequestHeaderSize) {
        *error = "short frame: " + std::to_string(body.size()) + " bytes";
        return false;
    }
    if (body.size() > kMaxFrameBody) {
        *error = "frame too large";
        return false;
    }
    request->code = GetU32(body, 0);
    const std::uint32_t passwordOffset = GetU32(body, 4);
    const std::uint32_t inputSize = GetU32(body, 8);
    request->outputSize = GetU32(body, 12);
    if (inputSize > body.size() - kRequestHeaderSize) {
        *error = "input size " + std::to_string(inputSize) + " beyond the frame";
        return false;
    }
    if (request->outputSize > kMaxFrameBody) {
        *error = "output size " + std::to_string(request->outputSize) + " out of range";
        return false;
    }
    const std::optional<std::uint32_t> expected = ExpectedInputSize(request->code);
    if (!expected) {
        *error = "unknown control code";
        return false;
    }
    const bool variable = request->code == code::kWriteFile;
    if (variable ? inputSize < *expected : inputSize != *expected) {
        *error =
            "input size " + std::to_string(inputSize) + ", expected " + std::to_string(*expected);
        return false;
    }
    const std::size_t textStart = kRequestHeaderSize + inputSize;
    if (!ReadText(body, textStart, passwordOffset, "password", &request->password, error))
        return false;
    const std::string_view input = body.substr(kRequestHeaderSize, inputSize);
    switch (request->code) {
        case code::kAddEntry: {
            EntryRecordTexts& r = request->record;
            r.dwOperation = GetU32(input, 0);
            r.Reserved = static_cast<std::int32_t>(GetU32(input, 24));
            return ReadText(body, textStart, GetU32(input, 4), "FileMask", &r.FileMask, error) &&
                   ReadText(body, textStart, GetU32(input, 8), "ExcludeFiles", &r.ExcludeFiles,
                            error) &&
                   ReadText(body, textStart, GetU32(input, 12), "Processes", &r.Processes, error) &&
                   ReadText(body, textStart, GetU32(input, 16), "ExcludeProc", &r.ExcludeProc,
                            error) &&
                   ReadText(body, textStart, GetU32(input, 20), "Password", &r.Password, error);
        }
        case code::kCheck:
            request->operation = GetU32(input, 0);
            return ReadRequiredText(body, textStart, GetU32(input, 4), "path", &request->path,
                                    error) &&
                   ReadRequiredText(body, textStart, GetU32(input, 8), "process", &request->process,
                                    error);
        case code::kGetEntry:
        case code::kGetDenials:
            request->index = GetU32(input, 0);
            return true;
        case code::kSelectUid:
            request->uid = GetU32(input, 0);
            return true;
        case code::kSetOrigin:
            request->origin = GetU32(input, 0);
            return true;
        case code::kLoadRules:
            return ReadText(body, textStart, GetU32(input, 0), "principal", &request->principal,
                            error);
        case code::kGetFolderCoverage:
            return ReadRequiredText(body, textStart, GetU32(input, 0), "path", &request->path,
                                    error);
        case code::kReadFile:
            request->file = GetU32(input, 0);
            request->offset = GetU32(input, 4);
            return true;
        case code::kWriteFile:
            request->file = GetU32(input, 0);
            request->flags = GetU32(input, 4);
            request->data = std::string(input.substr(8));
            return true;
        default:
            return true;
    }
}

std::string EncodeReply(const Reply& reply) {
    std::string frame;
    PutU32(&frame, static_cast<std::uint32_t>(kReplyHeaderSize + reply.output.size()));
    PutU32(&frame, reply.success ? 1 : 0);
    PutU32(&frame, reply.returned);
    frame += reply.output;
    return frame;
}

bool DecodeReply(std::string_view body, Reply* reply, std::string* error) {
    if (body.size() < kReplyHeaderSize || body.size() > kMaxFrameBody) {
        *error = "reply of " + std::to_string(body.size()) + " bytes";
        return false;
    }
    const std::uint32_t success = GetU32(body, 0);
    if (success > 1) {
        *error = "reply with success value " + std::to_string(success);
        return false;
    }
    reply->success = success == 1;
    reply->returned = GetU32(body, 4);
    reply->output = std::string(body.substr(kReplyHeaderSize));
    return true;
}

std::string EncodeEntryOutput(const Entry& entry) {
    std::string out;
    PutU32(&out, entry.dwOperation);
    for (const std::string* text :
         {&entry.FileMask, &entry.ExcludeFiles, &entry.Processes, &entry.ExcludeProc}) {
        out += *text;
        out.push_back('\0');
    }
    return out;
}

bool DecodeEntryOutput(std::string_view output, Entry* entry) {
    if (output.size() < 4)
        return false;
    entry->dwOperation = GetU32(output, 0);
    std::size_t pos = 4;
    for (std::string* text :
         {&entry->FileMask, &entry->ExcludeFiles, &entry->Processes, &entry->ExcludeProc}) {
        const std::size_t nul = output.find('\0', pos);
        if (nul == std::string_view::npos)
            return false;
        *text = std::string(output.substr(pos, nul - pos));
        pos = nul + 1;
    }
    return pos == output.size();
}

bool EntryFromRecord(const EntryRecordTexts& record, Entry* entry) {
    if (!record.FileMask)
        return false;
    entry->dwOperation = record.dwOperation;
    entry->FileMask = *record.FileMask;
    entry->ExcludeFiles = record.ExcludeFiles.value_or("");
    entry->Processes = record.Processes.value_or("");
    entry->ExcludeProc = record.ExcludeProc.value_or("");
    return true;
}

void EncodeDenial(const Denial& denial, std::string* out) {
    PutU32(out, denial.sequence);
    PutU32(out, static_cast<std::uint32_t>(denial.time));
    PutU32(out, static_cast<std::uint32_t>(denial.uid));
    PutU32(out, static_cast<std::uint32_t>(denial.pid));
    PutU32(out, denial.operation);
    PutU32(out, denial.entry);
    *out += denial.process;
    out->push_back('\0');
    *out += denial.path;
    out->push_back('\0');
}

bool DecodeDenial(std::string_view output, std::size_t* offset, Denial* denial) {
    std::size_t pos = *offset;
    if (output.size() < pos + 24)
        return false;
    denial->sequence = GetU32(output, pos);
    denial->time = GetU32(output, pos + 4);
    denial->uid = static_cast<uid_t>(GetU32(output, pos + 8));
    denial->pid = static_cast<pid_t>(GetU32(output, pos + 12));
    denial->operation = GetU32(output, pos + 16);
    denial->entry = GetU32(output, pos + 20);
    pos += 24;
    for (std::string* text : {&denial->process, &denial->path}) {
        const std::size_t nul = output.find('\0', pos);
        if (nul == std::string_view::npos)
            return false;
        *text = std::string(output.substr(pos, nul - pos));
        pos = nul + 1;
    }
    *offset = pos;
    return true;
}

}  // namespace kv::driver
