#pragma once

#include <string>
#include <vector>

namespace kv {

/// The ways the program can run, chosen by its first command-line argument.
enum class StartSwitch { None, Tray, Start, Stop, Install, Uninstall, Other };

/// The first argument compared with the switches exactly (case matters, nothing
/// may follow); further arguments are ignored.
StartSwitch ParseStartSwitch(const std::vector<std::string>& args);

/// What the process does when asked for help or its version; empty otherwise.
/// Returns true when the process should print `output` and end with 0.
bool HandleInfoSwitch(const std::vector<std::string>& args, std::string* output);

class TSecFrm;

/// What the process does after startup.
/// Refused: the password gate was not passed (three wrong tries, or no one
/// to ask); the process says so on stderr and ends with 1.
enum class StartupOutcome { Terminate, Failed, Refused, ShowWindow, StayHidden };

inline constexpr char kRefusedText[] =
    "kv: the administrator's password was not given: the settings stay closed\n";

/// The startup routine: runs once between the creation of the main window and
/// the message loop.
StartupOutcome RunStartup(TSecFrm& window, StartSwitch start);

/// "/U": after the password gate, stops protection and undoes the program's
/// registrations, then starts the uninstaller when it is there. False when
/// the gate refused (nothing was changed).
bool PrepareUninstall(TSecFrm& window);

inline constexpr char kVersionText[] = "Version 1.3 (Build 1.3.1.1)";

}  // namespace kv
