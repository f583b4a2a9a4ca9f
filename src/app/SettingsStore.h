#pragma once
// The settings store: named text values with a default, "***" standing for
// the empty text. On Linux every application name is an INI file in the
// configuration folder ("kavon.ini", "common.ini"), section "conf"; a
// missing entry is written with its default on first read.
#include <string>
#include <vector>

#include "platform/SettingsBackend.h"

namespace kavon {

inline constexpr const char* kAppName = "kavon";
inline constexpr const char* kCompanyName = "tarvelin";
inline constexpr const char* kSection = "conf";
inline constexpr int kHiveCurrentUser = 0;
inline constexpr unsigned kHkeyCurrentUser = 0x80000001u;

class SettingsStore {
 public:
  explicit SettingsStore(platform::SettingsBackend& backend) : backend_(backend) {}

  // What the application calls: the program's own key, defaults written on
  // first read.
  std::string ReadSetting(const std::string& key, const std::string& def);
  void WriteSetting(const std::string& key, const std::string& value);

  // Another application's values. hive 0 (or HKEY_CURRENT_USER) is the
  // user's store whether or not a sub-key is given; another hive answers
  // the default. subKey "Software\tarvelin\name" names application name.
  std::string ReadRegValue(const std::string& name, const std::string& def, const std::string& app = "",
                           unsigned hive = kHiveCurrentUser, const std::string& subKey = "");
  void WriteRegValue(const std::string& name, const std::string& value, const std::string& app = "",
                     unsigned hive = kHiveCurrentUser, const std::string& subKey = "");

  std::string ReadIniValue(const std::string& key, const std::string& def, const std::string& app = "",
                           const std::string& section = "", bool writeDefault = true);
  void WriteIniValue(const std::string& key, const std::string& value, const std::string& app = "",
                     const std::string& section = "");

  // Writes between these are saved together, in one replacement per file.
  void BeginBatch() { backend_.BeginBatch(); }
  void EndBatch() {
    if (!backend_.EndBatch()) writeFailed_ = true;
  }

  // What the store behind noticed while reading, for the log.
  std::vector<std::string> TakeNotes() { return backend_.TakeNotes(); }

  // True once a write has failed (for one message to the user).
  bool WriteFailed() const { return writeFailed_; }

 private:
  // The application name that a hive and sub-key stand for, or "" for none.
  static std::string AppOf(const std::string& app, unsigned hive, const std::string& subKey);

  platform::SettingsBackend& backend_;
  bool writeFailed_ = false;
};

// Holds the store's writes for the life of the object.
class SettingsBatch {
 public:
  explicit SettingsBatch(SettingsStore& store) : store_(store) { store_.BeginBatch(); }
  ~SettingsBatch() { store_.EndBatch(); }
  SettingsBatch(const SettingsBatch&) = delete;
  SettingsBatch& operator=(const SettingsBatch&) = delete;

 private:
  SettingsStore& store_;
};

}  // namespace kavon
