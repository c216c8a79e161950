#include "app/Double.h"

namespace kv {

TAppManager::TAppManager(platform::InstanceGuard& guard, std::function<void()> showMainWindow,
                         QObject* parent)
    : QObject(parent), showMainWindow_(std::move(showMainWindow)) {
    connect(&guard, &platform::InstanceGuard::showRequested, this, [this] {
        if (showMainWindow_)
            showMainWindow_();
    });
}

InstanceResult InitInstance(platform::InstanceGuard& guard, bool allowCopy, bool notifyFirst,
                            IPrompts& prompts) {
    InstanceResult result;
    std::string systemText;
    switch (guard.Acquire(&systemText)) {
        case platform::InstanceGuard::Outcome::RegisterError:
            result.exitCode = 1;
            result.error = std::string(kRegisterError) + "\r\n" + systemText;
            return result;
        case platform::InstanceGuard::Outcome::CreateError:
            result.exitCode = 1;
            result.error = std::string(kCreateError) + "\r\n" + systemText;
            return result;
        case platform::InstanceGuard::Outcome::Running:
            if (!allowCopy) {
                prompts.Message(kRunningAlready, "Warning", Buttons::Ok, MessageIcon::Warning);
                if (notifyFirst)
                    guard.SendShowRequest();
                result.exitCode = 1;
                return result;
            }
            if (prompts.Message(kRunningAlreadyCopy, "Warning", Buttons::YesNo,
                                MessageIcon::Warning) != Answer::Yes) {
                result.exitCode = 2;
                return result;
            }
            result.run = true;  // an allowed copy neither listens nor holds the lock
            return result;
        case platform::InstanceGuard::Outcome::First:
            break;
    }
    if (notifyFirst && !guard.Listen(&systemText)) {
        result.exitCode = 1;
        result.error = std::string(kCreateError) + "\r\n" + systemText;
        return result;
    }
    result.run = true;
    return result;
}

}  // namespace kv
