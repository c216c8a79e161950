#include "app/SettingsDamage.h"

#include <ctime>
#include <filesystem>

#include "platform/Files.h"
#include "settings/Encript.h"
#include "settings/StoreCodec.h"

namespace kv {

bool SettingsBytesIntact(std::string_view data) {
    // Every file the store writes decodes and encodes back to the same bytes.
    return codec::EncodeFile(codec::DecodeFile(data)) == data;
}

namespace {

/// A copy with the same bytes kept before, so that each start does not add one.
std::string SameCopy(const std::string& file, const std::string& data) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path path(file);
    const std::string prefix = path.filename().string() + ".damaged-";
    for (const fs::directory_entry& entry : fs::directory_iterator(path.parent_path(), ec)) {
        if (entry.path().filename().string().rfind(prefix, 0) != 0)
            continue;
        std::string kept;
        if (platform::ReadWholeFile(entry.path().string(), &kept) && kept == data)
            return entry.path().string();
    }
    return {};
}

}  // namespace

SettingsDamage CheckSettingsFile(const TEncriptor& store, const std::string& time) {
    SettingsDamage damage;
    if (!store.Encrypted() || !store.Readable() || platform::BrokerHandles(store.FileName()))
        return damage;
    std::string data;
    if (!platform::ReadWholeFile(store.FileName(), &data) || SettingsBytesIntact(data))
        return damage;
    damage.file = store.FileName();
    damage.copy = SameCopy(damage.file, data);
    if (!damage.copy.empty())
        return damage;
    const std::string copy = damage.file + ".damaged-" + time;
    // An empty file first, made the owner's alone: the bytes then keep its mode.
    std::error_code ec;
    if (!platform::WriteFileAtomically(copy, "", &damage.error))
        return damage;
    std::filesystem::permissions(
        copy, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ec);
    if (ec) {
        damage.error = ec.message();
        return damage;
    }
    if (platform::WriteFileAtomically(copy, data, &damage.error))
        damage.copy = copy;
    return damage;
}

std::string DamageTimeSuffix() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

std::string DamageMessage(const SettingsDamage& damage) {
    std::string text = "The settings file " + damage.file +
                       " is damaged: its groups, protection rules and password could not be "
                       "read.\n\n";
    if (!damage.copy.empty()) {
        text += "Its content was kept as " + damage.copy + " (readable by its owner only).\n\n";
    } else {
        text += "No copy of it could be kept (" + damage.error + ").\n\n";
    }
    text +=
        "The program now shows empty settings. To get yours back, close the program and put a "
        "backup of the settings file in its place. The damaged file is written over only when "
        "you save and confirm.";
    return text;
}

std::string OverwriteQuestion(const SettingsDamage& damage) {
    return "The settings file " + damage.file + " was damaged when the program started" +
           (damage.copy.empty() ? std::string() : " (a copy is kept as " + damage.copy + ")") +
           ".\n\nWrite the settings shown here over it?";
}

}  // namespace kv
