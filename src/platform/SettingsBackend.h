#pragma once
// A store of named text values grouped in sections, one file (or registry
// key) per application name. The settings store above it adds the
// conventions ("***" for empty, defaults, types).
#include <optional>
#include <string>
#include <vector>

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
  // Between these, writes may be held and saved together at the end (the
  // defaults written at the first start are one save, not one per key).
  // EndBatch is false when that save failed.
  virtual void BeginBatch() {}
  virtual bool EndBatch() { return true; }
  // Where an application's values are kept (a file, a registry key), and
  // why the last write failed, for the user.
  virtual std::string Location(const std::string& app) const { return app; }
  virtual std::string LastError() const { return {}; }
  // What the store noticed while reading (a value it could not use), for
  // the log; taken once.
  virtual std::vector<std::string> TakeNotes() { return {}; }
};

}  // namespace kavon::platform
