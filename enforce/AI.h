#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/InterceptorDevice.h"

namespace kv {

/// Where compiled entries go: the interceptor component, or a table the
/// service fills itself.
class IEntryLoader {
public:
    virtual ~IEntryLoader() = default;
    virtual bool ClearEntries() = 0;
    /// The index of the new entry, or -1 when the add failed.
    virtual int AddEntry(std::uint32_t dwOperation, const std::string& FileMask,
                         const std::string& ExcludeFiles, const std::string& Processes,
                         const std::string& ExcludeProc) = 0;
};

/// The interceptor component: opens the interceptor's control device at
/// construction and sends it the five requests (add an entry, clear, activate,
/// deactivate, count). It never throws: failures show in `Success`, in the
/// operation's result and through the optional error event.
class TDodiInterceptor : public IEntryLoader {
public:
    /// Error types of the error event.
    enum ErrorType : std::uint32_t {
        kOpenFailed = 1,
        kCountFailed = 6,
        kActivateFailed = 7,
        kAddFailed = 8,
        kClearFailed = 9,
    };
    using TOnError =
        std::function<void(TDodiInterceptor& sender, std::uint32_t errorType, std::uint32_t code)>;

    /// Opens the device at `devicePath` (the default device when empty).
    explicit TDodiInterceptor(const std::string& devicePath = {}, TOnError onError = {});
    /// Clears the entries first when `ClearOnDestroy` is set, then closes the device.
    ~TDodiInterceptor() override;
    TDodiInterceptor(const TDodiInterceptor&) = delete;
    TDodiInterceptor& operator=(const TDodiInterceptor&) = delete;

    /// Appends one entry; the index of the new entry, or -1 when the add failed.
    int AddEntry(std::uint32_t dwOperation, const std::string& FileMask,
                 const std::string& ExcludeFiles, const std::string& Processes,
                 const std::string& ExcludeProc) override;
    bool ClearEntries() override;
    /// Asks the service to compile the caller's own rules from the settings
    /// it keeps, load them in place of the caller's entries and activate
    /// them. False when it cannot (it keeps no settings, or is not there).
    bool LoadOwnRules();
    /// Asks the service to load every account's rules from the settings it
    /// keeps (with the password); `*count` receives the number of accounts.
    /// False when it cannot (it keeps no settings, refuses, or is not there);
    /// `Active` is true after it succeeded.
    bool LoadEveryAccount(std::uint32_t* count);
    /// Tells the service where the caller's entries came from (an origin
    /// number of the service: test, ...), for kvctl status.
    bool SetOrigin(std::uint32_t origin);
    /// Asks the service whether `password` is the administrator's; true also
    /// when no password is set. A wrong one is answered after a delay.
    bool CheckPassword(const std::string& password);
    /// Whether the service knows an administrator's password is set (asking
    /// costs no try); nullopt when it does not answer.
    std::optional<bool> PasswordSet();
    /// The operations refused to this user since its protection was started;
    /// nullopt when the service does not answer.
    std::optional<std::uint32_t> RefusalCount();
    /// How the service enforces (or would enforce) an entry naming `folder`;
    /// nullopt when no service answers.
    std::optional<std::string> FolderCoverage(const std::string& folder) {
        return device_.FolderCoverage(folder);
    }
    /// Asks for the number of entries; false when the request failed.
    bool GetEntryCount(std::uint32_t& count);
    /// The number of entries, 0xFFFFFFFF when the request failed.
    std::uint32_t NumEntries();

    bool Active() const { return active_; }
    /// Whether the service's device is open (it answered and has not gone away).
    bool Connected() const { return device_.IsOpen(); }
    /// Opens the device again when it is closed (no service answered, or it
    /// went away): a service started later is reached. Sends nothing; true
    /// when the device is open.
    bool Reconnect();
    /// Sends activate or deactivate when the value differs from `Active`.
    void SetActive(bool value);
    /// Sends deactivate whatever `Active` says: a table that an earlier run
    /// activated is switched off as well. False when it was refused.
    bool Deactivate();
    bool Success() const { return success_; }
    bool ClearOnDestroy() const { return clearOnDestroy_; }
    void SetClearOnDestroy(bool value) { clearOnDestroy_ = value; }
    void SetPassword(const std::string& password);
    /// The password every request carries; null until it is written.
    const std::optional<std::string>& Password() const { return password_; }
    void SetOnError(TOnError onError) { onError_ = std::move(onError); }

private:
    bool Send(std::uint32_t code, const platform::EntryRecordTexts* record,
              std::uint32_t outputSize, std::uint32_t* returned);
    void RaiseError(std::uint32_t type, std::uint32_t code);

    std::string devicePath_;
    platform::InterceptorDevice device_;
    platform::EntryRecordTexts record_;    ///< reused for every add request
    std::optional<std::string> password_;  ///< null until Password is written
    std::uint32_t returned_ = 0;           ///< returned value of add, (de)activate, clear
    bool success_ = false;
    bool active_ = false;
    bool clearOnDestroy_ = false;
    TOnError onError_;
};

}  // namespace kv
