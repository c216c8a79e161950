#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "driver/ControlCodes.h"
#include "driver/DeviceClient.h"
#include "driver/Protocol.h"

namespace kv::platform {

/// Texts of the add-entry record: dwOperation, FileMask, ExcludeFiles,
/// Processes, ExcludeProc, Password (nullopt is a null pointer) and Reserved.
using EntryRecordTexts = kv::driver::EntryRecordTexts;

/// The interceptor's control device: open by path, send control requests,
/// close. On this system the device is the socket of the service kvvxd.
class InterceptorDevice {
public:
    InterceptorDevice() = default;
    ~InterceptorDevice() { Close(); }
    InterceptorDevice(const InterceptorDevice&) = delete;
    InterceptorDevice& operator=(const InterceptorDevice&) = delete;

    /// The device path: `$KESTRAVA_DEVICE`, else /run/kestrava/VEVUZ for every user.
    static std::string DefaultPath() { return kv::driver::DefaultDevicePath(); }

    /// Opens the device at `path` (DefaultPath() when empty). False when no
    /// service answers there; every request then fails.
    [[nodiscard]] bool Open(const std::string& path = {});
    bool IsOpen() const { return client_.IsOpen(); }
    void Close() { client_.Close(); }

    /// Sends one control request and waits for its answer: the outcome is the
    /// service's success flag, and `*returned` (when given) receives its
    /// returned value. `record` is the entry record of an add request (null
    /// for the other requests). A broken connection fails the request with
    /// returned value 0 and closes the device for good.
    [[nodiscard]] bool Request(std::uint32_t code, const std::optional<std::string>& password,
                               const EntryRecordTexts* record, std::uint32_t outputSize,
                               std::uint32_t* returned);

    /// How the service enforces (or would enforce) an entry naming `folder`:
    /// its coverage answer ("mount ...", "not enforced: ..."); nullopt when
    /// no service answers.
    std::optional<std::string> FolderCoverage(const std::string& folder);
    /// Sends a request with its input as it is and receives the whole reply,
    /// output bytes included. False when the exchange failed (no reply).
    [[nodiscard]] bool Exchange(const kv::driver::Request& request, kv::driver::Reply* reply);
    /// The same for a request whose input is already filled in (`request`'s
    /// own password is replaced by `password`).
    [[nodiscard]] bool Send(kv::driver::Request request, const std::optional<std::string>& password,
                            std::uint32_t* returned);

    /// Why the last open or request failed, for logging.
    const std::string& LastError() const { return lastError_; }

private:
    kv::driver::DeviceClient client_;
    std::string lastError_;
};

}  // namespace kv::platform
