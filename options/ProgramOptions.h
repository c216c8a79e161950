#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "access/AdminPassword.h"
#include "access/Passun.h"
#include "platform/Prompts.h"
#include "principals/ModifiedFlag.h"
#include "settings/Encript.h"

namespace kv {

inline constexpr char kPrOptFrmCaption[] = "Program Options";
inline constexpr char kCmosTitle[] = "Kestrava";
/// The seven lines of the advice shown after OK, separated by a carriage return.
inline constexpr char kCmosText[] =
    "For the highest possible level of security in addition to the above settings \r"
    "it is necessary to make a change to the firmware setup (BIOS or UEFI) of this computer.\r"
    "The boot order needs to start with the system disk of this computer. This prevents \r"
    "booting another system from a USB stick, a CD or the network.\r"
    "Use a firmware setup password to prevent unauthorized changes to this and other "
    "settings.\r"
    "Check the documentation that came with your computer for directions how to change your\r"
    "firmware settings.";
/// The texts of the hardening panel's check boxes.
inline constexpr char kBootBoxText[] = "Set Boot Protection";
inline constexpr char kRecoveryBoxText[] = "Recovery modes for root only";
inline constexpr char kAutoBoxText[] = "Automatic files protection from the computer's start";
inline constexpr char kMiniBoxText[] = "Minimize to the Tray Bar after logging on";
/// The hardening panel's explanation, for a computer whose boot loader is
/// GRUB or one without it. Lines end with a line feed.
std::string HardeningLabelText(bool bootLoaderFound);
/// Shown instead when the settings file could not be written.
inline constexpr char kOptionsNotSavedText[] =
    "The program options could not be saved to the settings file";

/// What the program options need of the main window and the rest of the
/// program. Every member must be set.
struct ProgramOptionsHooks {
    /// The checked state of the menu item `AutomaticFilesProtection1`.
    std::function<bool()> automaticProtection;
    std::function<void(bool)> setAutomaticProtection;
    /// TAutostart::ApplyAutostart with the menu item's state.
    std::function<void(bool checked)> applyAutostart;
    /// Hands a hot key code to the global hot key component `fisHotKey1`.
    std::function<void(std::uint16_t code)> applyHotKey;
    /// The directory's SaveKnownUsers.
    std::function<void()> saveKnownUsers;
    /// THardening::ApplyBootKeysPolicy and ApplyMsDosModePolicy.
    std::function<void(bool on)> applyBootKeysPolicy;
    std::function<void(bool on)> applyMsDosModePolicy;
    /// Whether the computer has a boot loader that Set Boot Protection locks;
    /// optional (unset: it has one).
    std::function<bool()> bootLoaderFound;
};

/// The check boxes of the program options form.
enum class PrOptBox { Auto, Mini, DisableBOOT, DisableMSDOS };

/// What the program options logic needs of its form. The program's form is
/// TPrOptFrm (options/forms); tests use a scripted stand-in.
class IPrOptForm : public IPasForm {  // the same password pair as TPasFrm's
public:
    virtual bool Checked(PrOptBox box) const = 0;
    virtual void SetChecked(PrOptBox box, bool checked) = 0;
    virtual void SetMiniEnabled(bool enabled) = 0;
    /// The code of the hot key field `HotKey1`.
    virtual std::uint16_t HotKey() const = 0;
    virtual void SetHotKey(std::uint16_t code) = 0;
};

/// Reads "HotKey" (default "Ctrl+Alt+K") and hands its code (0 when the text does
/// not parse) to `applyHotKey`. Returns the code.
std::uint16_t ApplyHotKey(const TEncriptor& store,
                          const std::function<void(std::uint16_t)>& applyHotKey);

/// The handlers of TPrOptFrm.
class TPrOptFrmLogic {
public:
    TPrOptFrmLogic(TEncriptor& store, IPrompts& prompts, TModifiedFlag& modified,
                   ProgramOptionsHooks& hooks)
        : store_(store), prompts_(prompts), modified_(modified), hooks_(hooks) {}
    void SetForm(IPrOptForm* form) { form_ = form; }

    /// Fills the form from the settings and clears "FirstTime" in memory.
    void Load();
    /// Stores and applies every option, saves the settings file and closes
    /// with Ok; a password not confirmed stops before anything is stored.
    void OKButtonClick();
    void CNCLButtonClick();
    /// `Mini` is enabled exactly while `Auto` is checked.
    void AutoClick();
    /// Checked masks both password fields, unchecked shows their text.
    void CheckBox1Click(bool checked);
    /// Escape closes with Cancel; Enter is OK. True when the key was used.
    bool FormKeyDown(int key);
    /// The hardening panel's explanation for this computer.
    std::string HardeningText() const;

private:
    IPrOptForm* form_ = nullptr;
    TEncriptor& store_;
    IPrompts& prompts_;
    TModifiedFlag& modified_;
    ProgramOptionsHooks& hooks_;
};

using PrOptFormFactory = std::function<std::unique_ptr<IPrOptForm>(TPrOptFrmLogic& logic)>;

/// The command `cmdPrOpt`: creates the form, runs the load step, shows it
/// modally and frees it. True when it was closed with OK.
bool cmdPrOptExecute(TEncriptor& store, IPrompts& prompts, TModifiedFlag& modified,
                     ProgramOptionsHooks& hooks, const PrOptFormFactory& makeForm);

}  // namespace kv
