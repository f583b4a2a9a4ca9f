#pragma once
// INI files as the settings store: one file per application name in one
// folder ("kavon.ini", "common.ini"). Sections and keys match without regard
// to case, as the profile-file functions do; lines that are not understood
// are kept as they stand when the file is written again.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/SettingsBackend.h"

namespace kavon::platform {

// One parsed INI text. Pure: no file access.
class IniDocument {
 public:
  static IniDocument Parse(const std::string& text);
  std::string Serialize() const;

  std::optional<std::string> Get(const std::string& section, const std::string& key) const;
  void Set(const std::string& section, const std::string& key, const std::string& value);

 private:
  std::vector<std::string> lines_;
};

class IniSettingsBackend : public SettingsBackend {
 public:
  explicit IniSettingsBackend(std::string folder);

  std::optional<std::string> Read(const std::string& app, const std::string& section,
                                  const std::string& key) override;
  bool Write(const std::string& app, const std::string& section, const std::string& key,
             const std::string& value) override;

  std::string FilePath(const std::string& app) const;
  // The reason of the last failed write, for a one-time message.
  const std::string& LastError() const { return lastError_; }

 private:
  IniDocument& Load(const std::string& app);

  std::string folder_;
  std::map<std::string, IniDocument> cache_;
  std::string lastError_;
};

}  // namespace kavon::platform
