#pragma once
// INI files as the settings store: one file per application name in one
// folder ("kavon.ini", "common.ini"). Sections and keys match without regard
// to case, as the profile-file functions do; lines that are not understood
// are kept as they stand when the file is written again. The files are also
// edited by hand while we run: every write reads the file as it is on disk
// now, changes only the keys written and replaces it atomically.
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/SettingsBackend.h"

namespace kavon::platform {

// One parsed INI text. Pure: no file access.
class IniDocument {
 public:
  // Accepts UTF-8 (byte order marks, even doubled), Shift-JIS and UTF-16
  // with its mark; CR LF and CR CR LF.
  static IniDocument Parse(const std::string& bytes);
  std::string Serialize() const;

  // The value, cut at its first NUL; the first entry of that name counts.
  std::optional<std::string> Get(const std::string& section, const std::string& key) const;
  void Set(const std::string& section, const std::string& key, const std::string& value);
  // Several keys of one section in one pass over the text.
  void SetMany(const std::string& section, const std::vector<std::pair<std::string, std::string>>& values);

 private:
  struct Index {
    std::unordered_map<std::string, size_t> entries;   // "section\nkey", lower case -> line
    std::unordered_map<std::string, size_t> sectionEnd;  // section -> line after its last entry
  };
  const Index& Indexed() const;

  std::vector<std::string> lines_;
  mutable std::optional<Index> index_;
};

class IniSettingsBackend : public SettingsBackend {
 public:
  // Removes temporary files that a save cut short by a crash left in folder.
  explicit IniSettingsBackend(std::string folder);

  std::optional<std::string> Read(const std::string& app, const std::string& section,
                                  const std::string& key) override;
  bool Write(const std::string& app, const std::string& section, const std::string& key,
             const std::string& value) override;
  void BeginBatch() override;
  bool EndBatch() override;

  std::string FilePath(const std::string& app) const;
  std::string Location(const std::string& app) const override { return FilePath(app); }
  // The reason of the last failed write, for a one-time message.
  std::string LastError() const override { return lastError_; }

 private:
  IniDocument LoadFromDisk(const std::string& app) const;
  // Applies writes to the file as it is on disk now, in one replacement.
  bool Commit(const std::string& app, const std::map<std::string, std::vector<std::pair<std::string, std::string>>>& writes);

  std::string folder_;
  int batchDepth_ = 0;
  std::map<std::string, IniDocument> batchCache_;  // documents read during a batch
  // app -> section -> writes, in order, held until the batch ends
  std::map<std::string, std::map<std::string, std::vector<std::pair<std::string, std::string>>>> pending_;
  std::string lastError_;
};

}  // namespace kavon::platform
