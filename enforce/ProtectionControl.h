#pragma once

#include <functional>
#include <string>

namespace kv {

class IPrompts;
class TDodiInterceptor;
class TEncriptor;
class TRuleCompiler;

/// The displayed protection state: which button of the toolbar's protection
/// group is down.
enum class ProtectionState { Protecting, Testing, Stopped };

/// The controls that carry the protection state: the toolbar's protection
/// group and the menu item "Automatic Files Protection".
class IProtectionView {
public:
    virtual ~IProtectionView() = default;
    virtual ProtectionState Shown() const = 0;
    virtual void Show(ProtectionState state) = 0;
    virtual bool AutomaticChecked() const = 0;
    virtual void SetAutomaticChecked(bool checked) = 0;
};

/// Start, Test, Stop and Refresh of protection, and the two operations the
/// startup runs.
class TProtectionControl {
public:
    TProtectionControl(const TEncriptor& store, TDodiInterceptor& interceptor,
                       TRuleCompiler& compiler, IPrompts& prompts, IProtectionView& view,
                       std::function<std::string()> currentUserName,
                       std::function<void()> applyAutostart);

    /// "g_" + the current user's group when the settings give one, else
    /// "u_" + the current user's name.
    std::string CurrentUserPrincipal() const;

    /// Compiles the current user's protection and activates it when the
    /// interceptor reports entries; kept after the program ends. With
    /// `SetServiceLoadsRules`, the service compiles them from the settings it
    /// keeps (compiled here only when it cannot).
    /// False, with the reason in `error`, when no protection was started:
    /// the service does not answer, or it refused.
    bool StartUserProtection(std::string* error = nullptr);
    /// For a program run by a user other than the administrator: the logon
    /// start asks the service for the user's rules, so that it needs neither
    /// the settings file nor the right to clear the user's table.
    void SetServiceLoadsRules(bool value) { serviceLoadsRules_ = value; }
    /// Deactivates and empties the interceptor; nothing is kept at exit.
    /// False, with the reason in `error`, when the service does not answer or
    /// refused (a user's stop without the administrator's password).
    bool StopProtection(std::string* error = nullptr);

    void cmdAutorunExecute();  ///< Start Protection
    void cmdStartExecute();    ///< Test Protection
    void cmdStopExecute();     ///< Stop Protection
    void cmdRefreshExecute();  ///< Refresh

    /// Enabled state of Refresh: the interceptor is active.
    bool RefreshEnabled() const;

private:
    const TEncriptor& store_;
    TDodiInterceptor& interceptor_;
    TRuleCompiler& compiler_;
    IPrompts& prompts_;
    IProtectionView& view_;
    std::function<std::string()> currentUserName_;
    std::function<void()> applyAutostart_;
    bool serviceLoadsRules_ = false;
};

/// The principal prefix that protects the user `userName` under the settings
/// of `store`: "g_" + the user's group when the settings give one, else
/// "u_" + the name.
std::string PrincipalOfUser(const TEncriptor& store, const std::string& userName);

inline constexpr char kNoProtectionMessage[] = "You have not set any folder protection !";
inline constexpr char kNotStartedMessage[] =
    "The interceptor service does not answer: protection is not running !";

}  // namespace kv
