#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>

#include "platform/Prompts.h"
#include "platform/qt/InstanceGuard.h"

namespace kv {

/// What the single-instance guard decided.
struct InstanceResult {
    bool run = false;   ///< this instance may go on
    int exitCode = 0;   ///< exit code when it may not
    std::string error;  ///< text of a fatal guard error, shown by the caller
};

/// Owns the show-request listener of the first instance: every request calls
/// the main window's show request.
class TAppManager : public QObject {
    Q_OBJECT
public:
    TAppManager(platform::InstanceGuard& guard, std::function<void()> showMainWindow,
                QObject* parent = nullptr);

private:
    std::function<void()> showMainWindow_;
};

/// The single-instance guard: refuses a second start with a message and asks the
/// running instance to come forward. `guard` keeps the lock for the process's life.
InstanceResult InitInstance(platform::InstanceGuard& guard, bool allowCopy, bool notifyFirst,
                            IPrompts& prompts);

inline constexpr char kInstanceName[] = "tarvex";
inline constexpr char kRunningAlready[] = "The program is running already !";
inline constexpr char kRunningAlreadyCopy[] =
    "The program is running already ! Create a copy of the program yet ?";
inline constexpr char kRegisterError[] = "Register Window Message Error : ";
inline constexpr char kCreateError[] = "Create Mutex Error : ";

}  // namespace kv
