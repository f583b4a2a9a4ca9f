#pragma once
// A store of named text values grouped in sections, one file (or registry
// key) per application name. The settings store above it adds the
// conventions ("***" for empty, defaults, types).
#include <optional>
#include <string>

namespace kavon::platform {

class SettingsBackend {
 public:
  virtual ~SettingsBackend() = default;
  // The stored text, whole, or nullopt when the entry is absent.
  virtual std::optional<std::string> Read(const std::string& app, const std::string& section,
                                          const std::string& key) = 0;
  // False when the value could not be stored (the old value stays).
  virtual bool Write(const std::string& app, const std::string& section, const std::string& key,
                     const std::string& value) = 0;
};

}  // namespace kavon::platform
