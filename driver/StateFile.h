#pragma once

#include <string>
#include <string_view>

namespace kv::driver {

/// Replaces the service's file `path` with `text`, readable and writable by
/// the service alone: written beside it as "<path>.new" and renamed over it,
/// so that a crash leaves the old file or the new one, whole. `sync`: on disk
/// before the rename. False with `*error` ("cannot write <path>.new: reason")
/// when it fails; the old file is then untouched.
bool ReplaceFile(const std::string& path, std::string_view text, bool sync, std::string* error);

}  // namespace kv::driver
