#include "rules/PathStyle.h"

namespace kv {

const PathStyle& PathStyle::Posix() {
    static const PathStyle style('/', false);
    return style;
}

const PathStyle& PathStyle::Windows() {
    static const PathStyle style('\\', true);
    return style;
}

bool PathStyle::IsRoot(std::string_view path) const {
    if (!driveLetters_)
        return path.size() == 1 && path[0] == separator_;
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    return path.size() == 3 && letter(path[0]) && path[1] == ':' && path[2] == separator_;
}

std::string PathStyle::Join(std::string_view folder, std::string_view name) const {
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path.append(folder);
    if (!EndsWithSeparator(folder))
        path.push_back(separator_);
    path.append(name);
    return path;
}

}  // namespace kv
