#pragma once

#include <string>

#include "driver/Protocol.h"

namespace kv::driver {

/// The device socket: `$KESTRAVA_DEVICE`, else /run/kestrava/VEVUZ, the one
/// service of the machine, for every user.
std::string DefaultDevicePath();

/// A blocking connection to the interceptor service. Each request waits for
/// its reply (at most `timeoutMs` for each read or write).
class DeviceClient {
public:
    DeviceClient() = default;
    ~DeviceClient();
    DeviceClient(const DeviceClient&) = delete;
    DeviceClient& operator=(const DeviceClient&) = delete;

    /// Connects; false with a reason when there is no service at `path`.
    [[nodiscard]] bool Open(const std::string& path, std::string* error, int timeoutMs = 10000);
    bool IsOpen() const { return fd_ >= 0; }
    /// The uid the kernel reports for the service's end of the connection.
    /// A password goes only to a service run by root: anyone can listen on
    /// a socket named by KESTRAVA_DEVICE.
    uid_t PeerUid() const { return peerUid_; }
    void Close();

    /// Sends one request and reads its reply. False (and the connection
    /// closed) when the exchange fails; a refused request is a reply with
    /// success false. The service closes a connection that has not sent a
    /// whole request for a few seconds: the first exchange of a connection
    /// whose service closed it unanswered is tried once more on a new one
    /// (nothing was done, and no state of the connection is lost).
    [[nodiscard]] bool Transact(const Request& request, Reply* reply, std::string* error);
    /// Sends bytes as they are (for tests of malformed frames) and reads one reply.
    [[nodiscard]] bool TransactRaw(const std::string& frame, Reply* reply, std::string* error);

private:
    [[nodiscard]] bool Exchange(const std::string& frame, Reply* reply, std::string* error,
                                bool* unanswered);

    std::string path_;
    int timeoutMs_ = 10000;
    /// Exchanges done on this connection.
    std::uint64_t exchanges_ = 0;
    int fd_ = -1;
    uid_t peerUid_ = static_cast<uid_t>(-1);
};

}  // namespace kv::driver
