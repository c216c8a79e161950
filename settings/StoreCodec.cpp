#include "settings/StoreCodec.h"

namespace kv::codec {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

std::string HexPassForward(std::string_view in) {
    std::string out;
    out.resize(in.size() * 2);
    for (std::size_t i = 0; i < in.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(in[i]) ^ kMask;
        out[2 * i] = kHexDigits[b >> 4];
        out[2 * i + 1] = kHexDigits[b & 0x0F];
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string HexPassBackward(std::string_view in) {
    std::string out;
    out.reserve((in.size() + 1) / 2);
    for (std::size_t i = 0; i < in.size(); i += 2) {
        int value = HexValue(in[i]);
        if (value >= 0 && i + 1 < in.size()) {
            const int low = HexValue(in[i + 1]);
            value = low < 0 ? -1 : value * 16 + low;
        }
        const unsigned char byte = static_cast<unsigned char>(value < 0 ? 0 : value);
        out.push_back(static_cast<char>(byte ^ kMask));
    }
    return out;
}

}  // namespace

std::string JoinLines(const std::vector<std::string>& lines) {
    std::size_t size = 0;
    for (const auto& line : lines)
        size += line.size() + 2;
    std::string text;
    text.reserve(size);
    for (const auto& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

std::vector<std::string> SplitLines(std::string_view text) {
    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos)
        text = text.substr(0, nul);
    std::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.emplace_back(text.substr(start, i - start));
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < text.size())
        lines.emplace_back(text.substr(start));
    return lines;
}

std::string EncodeFile(std::string_view text) {
    std::string stream = HexPassForward(HexPassForward(text));
    for (std::size_t i = 0; i < stream.size(); ++i) {
        stream[i] = static_cast<char>(static_cast<unsigned char>(stream[i]) + i % 10);
    }
    std::string file;
    file.reserve(stream.size() + (stream.size() / kLineWidth + 1) * 2);
    for (std::size_t pos = 0; pos < stream.size(); pos += kLineWidth) {
        file.append(stream, pos, kLineWidth);
        file += "\r\n";
    }
    return file;
}

std::string DecodeFile(std::string_view file) {
    // The file's non-empty lines form one character stream; line ends are left out.
    std::string stream;
    stream.reserve(file.size());
    for (char c : file) {
        if (c != '\r' && c != '\n')
            stream.push_back(c);
    }
    for (std::size_t i = 0; i < stream.size(); ++i) {
        stream[i] = static_cast<char>(static_cast<unsigned char>(stream[i]) - i % 10);
    }
    return HexPassBackward(HexPassBackward(stream));
}

}  // namespace kv::codec
