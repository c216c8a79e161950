#include "session/SessionHook.h"

#include "driver/DeviceClient.h"

namespace kv::session {

HookOutcome RunSessionHook(const SessionEvent& event, const HookOptions& options) {
    auto log = [&](const std::string& line) {
        if (options.log)
            options.log(line);
    };
    if (event.type != "open_session")
        return HookOutcome::kIgnored;
    const std::optional<uid_t> uid = options.uidOf ? options.uidOf(event.user) : std::nullopt;
    if (!uid) {
        log("no account named \"" + event.user + "\": nothing loaded for its session");
        return HookOutcome::kFailed;
    }
    if (*uid == 0)
        return HookOutcome::kIgnored;  // the administrator's own processes stay free
    const std::string who = "uid " + std::to_string(*uid) + " (" + event.service + ")";
    driver::DeviceClient device;
    std::string error;
    if (!device.Open(options.devicePath, &error, options.stepTimeoutMs)) {
        log("the interceptor service is not running; the session of " + who +
            " opens with the tables already loaded: " + error);
        return HookOutcome::kFailed;
    }
    // Only the service run by root may be told whose session opens.
    if (device.PeerUid() != options.serviceUid) {
        log("the socket " + options.devicePath + " is not the service's");
        return HookOutcome::kFailed;
    }
    driver::Request select = driver::MakeRequest(driver::code::kSelectUid);
    select.uid = *uid;
    driver::Reply reply;
    if (!device.Transact(select, &reply, &error) || !reply.success ||
        !device.Transact(driver::MakeRequest(driver::code::kSessionOpened), &reply, &error)) {
        log("the interceptor service did not answer for the session of " + who + ": " + error);
        return HookOutcome::kFailed;
    }
    if (!reply.success) {
        log("the interceptor service could not load the rules of " + who);
        return HookOutcome::kFailed;
    }
    return reply.returned > 0 ? HookOutcome::kLoaded : HookOutcome::kNotAutomatic;
}

}  // namespace kv::session
