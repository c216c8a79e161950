#pragma once

#include <string>

namespace kv::platform {

/// Path of the help file: "Help/tarvex.html" in the executable's folder.
std::string HelpFilePath();
/// Opens the help file at a topic ("Topic160") with the desktop's browser.
/// False when the desktop could not open it.
bool OpenHelpTopic(const std::string& topic);
/// Opens a document or web address with the desktop's default program.
bool OpenDocument(const std::string& pathOrUrl);
/// Starts a program without waiting for it; false when it could not be started.
bool StartProgram(const std::string& path);

}  // namespace kv::platform
