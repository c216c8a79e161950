#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kv {

/// The files that lock the boot loader (GRUB), relative to the root folder
/// every writer is given ("" is the machine's own root; tests pass a staged one).
inline constexpr char kGrubDefaults[] = "/etc/default/grub";
inline constexpr char kGrubDropIn[] = "/etc/default/grub.d/kestrava.cfg";
inline constexpr char kGrubScript[] = "/etc/grub.d/01_kestrava";
/// The boot loader's superuser that the administrator's password belongs to.
inline constexpr char kGrubSuperuser[] = "kestrava";

/// The drop-in: no menu, no waiting, no recovery entries.
std::string GrubDropInText();
/// Whether `hash` has the form grub-mkpasswd-pbkdf2 writes
/// ("grub.pbkdf2.sha512.<iterations>.<hex salt>.<hex hash>").
bool IsGrubPbkdf2Hash(std::string_view hash);
/// The /etc/grub.d script that makes `hash` the superuser's password and
/// leaves the generated entries bootable without it.
std::string GrubPasswordScript(const std::string& hash);

/// What the lock needs of the system: the hash of a password, and the boot
/// loader's configuration made again from the files.
class IBootLoaderTools {
public:
    virtual ~IBootLoaderTools() = default;
    /// The PBKDF2 hash of `password`; nullopt with a reason when it cannot be made.
    virtual std::optional<std::string> HashPassword(const std::string& password,
                                                    std::string* error) = 0;
    /// update-grub; false with a reason when it failed.
    virtual bool UpdateConfig(std::string* error) = 0;
};

/// grub-mkpasswd-pbkdf2 and update-grub of this machine. `updates` false: the
/// configuration is never made again (a staged root, a program not installed).
class TSystemBootLoaderTools : public IBootLoaderTools {
public:
    explicit TSystemBootLoaderTools(bool updates) : updates_(updates) {}
    std::optional<std::string> HashPassword(const std::string& password,
                                            std::string* error) override;
    bool UpdateConfig(std::string* error) override;

private:
    bool updates_;
};

/// "Set Boot Protection" on this system: locks GRUB under `root`.
class TBootLoaderLock {
public:
    TBootLoaderLock(std::string root, IBootLoaderTools& tools)
        : root_(std::move(root)), tools_(tools) {}

    /// Whether GRUB is configured under the root (its defaults file exists).
    bool Present() const;
    /// On: the drop-in, and the password script when `password` is not empty
    /// (without one, editing entries stays open: true, and LastError says so). Off:
    /// both removed. The configuration is made again when a file changed.
    /// Without GRUB nothing is written (false). True when the files hold
    /// the asked state.
    bool Apply(bool on, const std::string& password);

    std::string PathOf(const char* file) const { return root_ + file; }
    const std::string& LastError() const { return lastError_; }

private:
    /// Writes `text` at `file` (mode `mode`) unless it holds it already.
    bool Put(const char* file, const std::string& text, unsigned mode, bool* changed);
    bool Remove(const char* file, bool* changed);

    std::string root_;
    IBootLoaderTools& tools_;
    std::string lastError_;
};

}  // namespace kv
