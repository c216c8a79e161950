#include "options/ProfileText.h"

namespace kv {

namespace {

constexpr std::size_t npos = std::string::npos;

std::string_view TrimBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == npos)
        return {};
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

bool IsHeader(std::string_view content) {
    const std::string_view trimmed = TrimBlanks(content);
    return !trimmed.empty() && trimmed.front() == '[';
}

std::string_view HeaderName(std::string_view content) {
    std::string_view name = TrimBlanks(content).substr(1);
    name = name.substr(0, name.find(']'));
    return TrimBlanks(name);
}

bool IsBlank(std::string_view content) {
    return TrimBlanks(content).empty();
}

}  // namespace

ProfileText::ProfileText(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t nl = text.find('\n', start);
        Line line;
        if (nl == npos) {
            line.content = std::string(text.substr(start));
            start = text.size();
        } else {
            std::size_t end = nl;
            if (end > start && text[end - 1] == '\r')
                --end;
            line.content = std::string(text.substr(start, end - start));
            line.ending = std::string(text.substr(end, nl + 1 - end));
            start = nl + 1;
        }
        if (newline_.empty() && !line.ending.empty())
            newline_ = line.ending;
        lines_.push_back(std::move(line));
    }
    if (newline_.empty())
        newline_ = "\r\n";  // the boot configuration file is a DOS text file
}

std::string ProfileText::Text() const {
    std::string out;
    for (const Line& line : lines_)
        out.append(line.content).append(line.ending);
    return out;
}

std::size_t ProfileText::FindSection(std::string_view section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (IsHeader(lines_[i].content) && SameName(HeaderName(lines_[i].content), section))
            return i;
    }
    return npos;
}

std::size_t ProfileText::SectionEnd(std::size_t header) const {
    std::size_t i = header + 1;
    while (i < lines_.size() && !IsHeader(lines_[i].content))
        ++i;
    return i;
}

bool ProfileText::IsKeyLine(const Line& line, std::string_view key) const {
    const std::size_t eq = line.content.find('=');
    return eq != npos && !IsHeader(line.content) &&
           SameName(TrimBlanks(std::string_view(line.content).substr(0, eq)), key);
}

void ProfileText::InsertLine(std::size_t at, std::string content) {
    // The line before gets an ending when it was the file's last line without one.
    if (at > 0 && lines_[at - 1].ending.empty())
        lines_[at - 1].ending = newline_;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at),
                  Line{std::move(content), newline_});
}

std::optional<std::string> ProfileText::Read(std::string_view section, std::string_view key) const {
    const std::size_t header = FindSection(section);
    if (header == npos)
        return std::nullopt;
    const std::size_t end = SectionEnd(header);
    for (std::size_t i = header + 1; i < end; ++i) {
        if (IsKeyLine(lines_[i], key)) {
            const std::string& content = lines_[i].content;
            return std::string(TrimBlanks(std::string_view(content).substr(content.find('=') + 1)));
        }
    }
    return std::nullopt;
}

void ProfileText::Write(std::string_view section, std::string_view key, std::string_view value) {
    std::string content;
    content.append(key).append("=").append(value);

    std::size_t header = FindSection(section);
    if (header == npos) {
        std::string title = "[";
        title.append(section).append("]");
        InsertLine(lines_.size(), std::move(title));
        header = lines_.size() - 1;
    }
    std::size_t end = SectionEnd(header);
    bool written = false;
    for (std::size_t i = header + 1; i < end;) {
        if (!IsKeyLine(lines_[i], key)) {
            ++i;
        } else if (!written) {
            lines_[i].content = content;
            written = true;
            ++i;
        } else {
            lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
            --end;
        }
    }
    if (written)
        return;
    std::size_t at = end;
    while (at > header + 1 && IsBlank(lines_[at - 1].content))
        --at;
    InsertLine(at, std::move(content));
}

void ProfileText::Delete(std::string_view section, std::string_view key) {
    const std::size_t header = FindSection(section);
    if (header == npos)
        return;
    std::size_t end = SectionEnd(header);
    for (std::size_t i = header + 1; i < end;) {
        if (IsKeyLine(lines_[i], key)) {
            lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
            --end;
        } else {
            ++i;
        }
    }
}

}  // namespace kv
