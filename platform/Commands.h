#pragma once

#include <string>
#include <vector>

namespace kv::platform {

/// Runs `argv` (the program looked up in PATH) with `input` on its standard
/// input and waits for it; its standard output goes to `output` (standard
/// error is dropped). The exit status, or -1 with a reason in `error` when it
/// could not be run or ended by a signal.
int RunCommand(const std::vector<std::string>& argv, const std::string& input, std::string* output,
               std::string* error);

/// The program `name` found in PATH (or the sbin folders, which a user's PATH
/// may lack); empty when there is none.
std::string FindProgram(const std::string& name);

}  // namespace kv::platform
