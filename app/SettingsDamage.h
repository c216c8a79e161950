#pragma once

#include <string>
#include <string_view>

namespace kv {

class TEncriptor;

/// Whether the bytes of an encoded settings file are in the form the store
/// writes. The store reads any bytes without complaint (garbage reads as an
/// empty store), so this is how a damaged file is told from a first start.
bool SettingsBytesIntact(std::string_view data);

/// A settings file that could not be read as settings, and the copy of it
/// that was kept.
struct SettingsDamage {
    std::string file;   ///< empty: the file is intact, absent or not readable here
    std::string copy;   ///< the kept copy; empty when it could not be written
    std::string error;  ///< why the copy could not be written
    bool Found() const { return !file.empty(); }
};

/// Checks the store's file; when it is damaged, keeps its bytes beside it as
/// "<file>.damaged-<time>" (readable by its owner only; an identical copy
/// already kept is reused), so that nothing the administrator had is lost.
SettingsDamage CheckSettingsFile(const TEncriptor& store, const std::string& time);

/// The current local time as the copy's suffix ("20240131-235959").
std::string DamageTimeSuffix();

/// The one message that tells the administrator what happened and what to do.
std::string DamageMessage(const SettingsDamage& damage);
/// The question before the settings are written over the damaged file.
std::string OverwriteQuestion(const SettingsDamage& damage);

}  // namespace kv
