#include "app/SettingsStore.h"

#include "common/Text.h"

namespace kavon {
namespace {

constexpr const char* kEmpty = "***";

std::string Decode(const std::string& stored) { return stored == kEmpty ? "" : stored; }
std::string Encode(const std::string& value) { return value.empty() ? kEmpty : value; }

}  // namespace

std::string SettingsStore::AppOf(const std::string& app, unsigned hive, const std::string& subKey) {
  if (hive != kHiveCurrentUser && hive != kHkeyCurrentUser) return {};
  if (subKey.empty()) return app.empty() ? kAppName : ToLower(app);
  const std::string prefix = std::string("software\\") + kCompanyName + "\\";
  const std::string lower = ToLower(subKey);
  if (!StartsWith(lower, prefix)) return {};
  const std::string name = lower.substr(prefix.size());
  if (name.empty() || name.find_first_of("\\/") != std::string::npos) return {};
  return name;
}

std::string SettingsStore::ReadRegValue(const std::string& name, const std::string& def, const std::string& app,
                                        unsigned hive, const std::string& subKey) {
  const std::string target = AppOf(app, hive, subKey);
  if (target.empty()) return Decode(def);
  const auto stored = backend_.Read(target, kSection, name);
  return Decode(stored ? Trim(*stored) : def);
}

void SettingsStore::WriteRegValue(const std::string& name, const std::string& value, const std::string& app,
                                  unsigned hive, const std::string& subKey) {
  const std::string target = AppOf(app, hive, subKey);
  if (target.empty()) return;
  if (!backend_.Write(target, kSection, name, Encode(value))) writeFailed_ = true;
}

std::string SettingsStore::ReadIniValue(const std::string& key, const std::string& def, const std::string& app,
                                        const std::string& section, bool writeDefault) {
  const std::string file = app.empty() ? kAppName : app;
  const std::string sec = section.empty() ? kSection : section;
  const auto stored = backend_.Read(file, sec, key);
  if (stored) return Decode(*stored);
  if (writeDefault) WriteIniValue(key, def, file, sec);
  return Decode(def);
}

void SettingsStore::WriteIniValue(const std::string& key, const std::string& value, const std::string& app,
                                  const std::string& section) {
  const std::string file = app.empty() ? kAppName : app;
  const std::string sec = section.empty() ? kSection : section;
  if (!backend_.Write(file, sec, key, Encode(value))) writeFailed_ = true;
}

std::string SettingsStore::ReadSetting(const std::string& key, const std::string& def) {
  return ReadIniValue(key, def, kAppName, kSection, true);
}

void SettingsStore::WriteSetting(const std::string& key, const std::string& value) {
  WriteIniValue(key, value, kAppName, kSection);
}

}  // namespace kavon
