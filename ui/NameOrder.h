#pragma once

#include <string>

namespace kv::ui {

/// Order of names in both browsing views: letters compared without case,
/// ties broken by the exact bytes, so the order is total and stable.
bool NameLess(const std::string& a, const std::string& b);

}  // namespace kv::ui
