#include "platform/qt/Display.h"

#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace kv::platform {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The platform plugins that need a display server of their own.
bool NeedsServer(std::string_view plugin) {
    return plugin.empty() || plugin.rfind("xcb", 0) == 0 || plugin.rfind("wayland", 0) == 0;
}

bool ServerThere(std::string_view plugin) {
    if (plugin.rfind("wayland", 0) == 0)
        return !Env("WAYLAND_DISPLAY").empty();
    if (plugin.rfind("xcb", 0) == 0)
        return !Env("DISPLAY").empty();
    return !Env("DISPLAY").empty() || !Env("WAYLAND_DISPLAY").empty();
}

QtMessageHandler previousHandler = nullptr;

void OnMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) {
        // The toolkit's own text speaks of reinstalling; the cause is the display.
        const std::string display = Env("DISPLAY");
        std::fprintf(stderr, "%sthe window system cannot be reached (DISPLAY=\"%s\")\n",
                     kNoDisplayPrefix, display.c_str());
        std::fflush(stderr);
        std::_Exit(1);
    }
    if (previousHandler)
        previousHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

}  // namespace

std::string MissingDisplay(const std::vector<std::string>& args) {
    std::string plugins = Env("QT_QPA_PLATFORM");
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "-platform" || args[i] == "--platform")
            plugins = args[i + 1];
    }
    // A list of plugins is tried in order: one that needs no server, or one
    // whose server is named, may start.
    std::string_view rest = plugins;
    while (true) {
        const std::size_t end = rest.find(';');
        const std::string_view plugin = rest.substr(0, end);
        const std::string_view name = plugin.substr(0, plugin.find(':'));
        if (!NeedsServer(name) || ServerThere(name))
            return {};
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
    return "the settings window needs a window system, and DISPLAY is not set "
           "(see kv --help for the switches)";
}

FatalDisplayGuard::FatalDisplayGuard() {
    previousHandler = qInstallMessageHandler(OnMessage);
}

FatalDisplayGuard::~FatalDisplayGuard() {
    qInstallMessageHandler(previousHandler);
    previousHandler = nullptr;
}

}  // namespace kv::platform
