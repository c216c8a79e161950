#pragma once

#include <memory>

namespace kv::platform {

/// The interceptor service's registration to start at every boot: on this
/// system the systemd unit kvvxd.service, enabled or disabled.
class IServiceRegistration {
public:
    virtual ~IServiceRegistration() = default;
    /// False when the machine runs no service manager the program knows.
    virtual bool Available() const = 0;
    /// Enables (true) or disables the unit; false when that failed.
    virtual bool SetEnabled(bool enabled) = 0;
};

/// systemd: present when /run/systemd/system exists; `systemctl enable` or
/// `disable` of kvvxd.service.
std::unique_ptr<IServiceRegistration> SystemdRegistration();

inline constexpr char kNoServiceManager[] =
    "systemd is not running on this machine: the interceptor service is not "
    "registered to start at boot";

}  // namespace kv::platform
