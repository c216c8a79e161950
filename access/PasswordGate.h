#pragma once

#include <optional>
#include <string>

#include "access/Passun.h"
#include "platform/Prompts.h"
#include "settings/Encript.h"

namespace kv {

/// The actions that ask the administrator's password before they go on.
enum class GateCaller {
    Startup,     ///< started by hand or with "/D": refused ends the program
    Uninstall,   ///< "/U": refused uninstalls nothing
    ShowWindow,  ///< tray double-click, "Show Protect Settings", hot key: refused keeps it hidden
    TrayStop,    ///< tray "Stop Files Protection": refused leaves protection as it is
    TrayExit,    ///< tray "Exit": refused keeps the program running
};

/// What the password gate found.
enum class GateResult {
    Passed,       ///< no password is set, or the right one was typed
    Refused,      ///< the prompt closed without the right password
    AlreadyOpen,  ///< another prompt is open; no second one was shown
};

/// Whether `caller` goes on after the gate reported `result`: only Passed goes
/// on. AlreadyOpen (another prompt is open) is refused for every caller.
[[nodiscard]] bool GatePassed(GateResult result, GateCaller caller);

/// The administrator's password as the interceptor service knows it, for a
/// program that cannot read the settings itself.
class IPasswordService {
public:
    virtual ~IPasswordService() = default;
    /// Whether a password is set; nullopt when the service does not answer.
    virtual std::optional<bool> PasswordSet() = 0;
    /// Whether `typed` is the administrator's password. The service answers
    /// wrong tries ever later.
    virtual bool Verify(const std::string& typed) = 0;
};

/// The one sequence around the password prompt. At most one prompt is open in
/// the process at any time.
class TPasswordGate {
public:
    /// Reads "Password" from `store`; passes at once when it is empty; reports
    /// AlreadyOpen when a prompt is open; otherwise runs one TPasswordDlg (attempt
    /// limit 3) with a form from `makeForm` and reports whether it passed.
    ///
    /// When `store` could not be read and `service` is given, the service
    /// says whether a password is set and checks what is typed. `accepted`
    /// (when given) receives the password that passed, empty when none is set.
    [[nodiscard]] static GateResult Run(const TEncriptor& store, IPrompts& prompts,
                                        const SecurFormFactory& makeForm,
                                        IPasswordService* service = nullptr,
                                        std::string* accepted = nullptr);

    /// True while a prompt of the gate is open.
    static bool PromptOpen();
};

}  // namespace kv
