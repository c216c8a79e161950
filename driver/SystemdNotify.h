#pragma once

#include <string>

namespace kv::driver {

/// Tells the service manager about the service's state ("READY=1",
/// "STOPPING=1") on the datagram socket named by $NOTIFY_SOCKET, as
/// systemd's notify protocol asks; a name beginning with "@" is an abstract
/// socket. Does nothing without the variable. False when it could not send.
bool NotifyServiceManager(const std::string& state);

}  // namespace kv::driver
