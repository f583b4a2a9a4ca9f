#pragma once
// Settings in the registry of the current user: one key per application,
// Software\tarvelin\<app>, one string value (REG_SZ) per setting. Values
// are written as UTF-16, so Japanese folder names survive whatever the
// ANSI code page is. A value of another type, or longer than any setting,
// reads as absent (the default is then used and written back) and is noted
// for the log.
#include <string>
#include <vector>

#include "platform/SettingsBackend.h"

namespace kavon::platform {

class RegistrySettingsBackend : public SettingsBackend {
 public:
  // root: the key under HKEY_CURRENT_USER that holds the applications' keys.
  explicit RegistrySettingsBackend(std::string root = "Software\\tarvelin") : root_(std::move(root)) {}

  std::optional<std::string> Read(const std::string& app, const std::string& section, const std::string& key) override;
  bool Write(const std::string& app, const std::string& section, const std::string& key,
             const std::string& value) override;
  std::string Location(const std::string& app) const override { return "HKEY_CURRENT_USER\\" + KeyOf(app); }
  std::string LastError() const override { return lastError_; }
  std::vector<std::string> TakeNotes() override;

 private:
  std::string KeyOf(const std::string& app) const { return root_ + "\\" + app; }

  std::string root_;
  std::string lastError_;
  std::vector<std::string> notes_;
};

}  // namespace kavon::platform
