#include "platform/ini/IniFile.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/FileSync.h"
#include "platform/TextCodec.h"
#include "platform/Utf8Path.h"

namespace kavon::platform {
namespace {

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

// The section name of a "[name]" line, or nullopt for any other line.
std::optional<std::string> SectionOf(const std::string& line) {
  const std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return std::nullopt;
  return Trim(t.substr(1, t.size() - 2));
}

// Key and value of a "key=value" line, or nullopt.
std::optional<std::pair<std::string, std::string>> EntryOf(const std::string& line) {
  const auto eq = line.find('=');
  if (eq == std::string::npos) return std::nullopt;
  const std::string key = Trim(line.substr(0, eq));
  if (key.empty() || key.front() == ';') return std::nullopt;
  return std::make_pair(key, Trim(line.substr(eq + 1)));
}

std::string Lower(const std::string& s) {
  std::string out = s;
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string IndexKey(const std::string& section, const std::string& key) { return Lower(section) + "\n" + Lower(key); }

}  // namespace

IniDocument IniDocument::Parse(const std::string& bytes) {
  IniDocument doc;
  // A file saved by a Windows editor (Shift-JIS, UTF-16) is read as text
  // and written back as UTF-8.
  const std::string text = DecodeText(bytes);
  std::string_view body = text;
  size_t begin = 0;
  while (begin < body.size()) {
    size_t end = body.find('\n', begin);
    if (end == std::string_view::npos) end = body.size();
    std::string_view line = body.substr(begin, end - begin);
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    doc.lines_.emplace_back(line);
    begin = end + 1;
  }
  return doc;
}

std::string IniDocument::Serialize() const {
  std::string out;
  for (const auto& line : lines_) out += line + "\n";
  return out;
}

const IniDocument::Index& IniDocument::Indexed() const {
  if (index_) return *index_;
  Index index;
  std::string section;
  bool haveSection = false;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (auto s = SectionOf(lines_[i])) {
      section = Lower(*s);
      haveSection = true;
      index.sectionEnd[section] = i + 1;
      continue;
    }
    if (!haveSection) continue;
    if (auto entry = EntryOf(lines_[i])) index.entries.emplace(section + "\n" + Lower(entry->first), i);
    if (!Trim(lines_[i]).empty()) index.sectionEnd[section] = i + 1;
  }
  index_ = std::move(index);
  return *index_;
}

std::optional<std::string> IniDocument::Get(const std::string& section, const std::string& key) const {
  const Index& index = Indexed();
  const auto it = index.entries.find(IndexKey(section, key));
  if (it == index.entries.end()) return std::nullopt;
  std::string value = EntryOf(lines_[it->second])->second;
  if (const auto nul = value.find('\0'); nul != std::string::npos) value.resize(nul);
  return value;
}

void IniDocument::Set(const std::string& section, const std::string& key, const std::string& value) {
  SetMany(section, {{key, value}});
}

void IniDocument::SetMany(const std::string& section, const std::vector<std::pair<std::string, std::string>>& values) {
  std::vector<std::string> added;
  std::map<std::string, size_t> addedAt;  // lower key -> position in added
  {
    const Index& index = Indexed();
    for (const auto& [key, value] : values) {
      const std::string line = key + "=" + value;
      if (const auto it = index.entries.find(IndexKey(section, key)); it != index.entries.end()) {
        lines_[it->second] = line;
      } else if (const auto a = addedAt.find(Lower(key)); a != addedAt.end()) {
        added[a->second] = line;
      } else {
        addedAt[Lower(key)] = added.size();
        added.push_back(line);
      }
    }
    if (added.empty()) return;
    if (const auto end = index.sectionEnd.find(Lower(section)); end != index.sectionEnd.end()) {
      lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(end->second), added.begin(), added.end());
      index_.reset();
      return;
    }
  }
  lines_.push_back("[" + section + "]");
  lines_.insert(lines_.end(), added.begin(), added.end());
  index_.reset();
}

IniSettingsBackend::IniSettingsBackend(std::string folder) : folder_(std::move(folder)) {
  RemoveStaleTemporaries(folder_, ".ini");
}

std::string IniSettingsBackend::FilePath(const std::string& app) const {
  return U8String(U8Path(folder_) / U8Path(app + ".ini"));
}

IniDocument IniSettingsBackend::LoadFromDisk(const std::string& app) const {
  std::ifstream in(U8Path(FilePath(app)), std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  return IniDocument::Parse(text.str());
}

std::optional<std::string> IniSettingsBackend::Read(const std::string& app, const std::string& section,
                                                    const std::string& key) {
  if (batchDepth_ == 0) return LoadFromDisk(app).Get(section, key);
  const auto app_it = pending_.find(app);
  if (app_it != pending_.end()) {
    for (const auto& [sec, writes] : app_it->second) {
      if (Lower(sec) != Lower(section)) continue;
      for (auto w = writes.rbegin(); w != writes.rend(); ++w) {
        if (Lower(w->first) == Lower(key)) return w->second;
      }
    }
  }
  auto it = batchCache_.find(app);
  if (it == batchCache_.end()) it = batchCache_.emplace(app, LoadFromDisk(app)).first;
  return it->second.Get(section, key);
}

bool IniSettingsBackend::Write(const std::string& app, const std::string& section, const std::string& key,
                               const std::string& value) {
  if (batchDepth_ > 0) {
    pending_[app][section].emplace_back(key, value);
    return true;
  }
  return Commit(app, {{section, {{key, value}}}});
}

bool IniSettingsBackend::Commit(
    const std::string& app, const std::map<std::string, std::vector<std::pair<std::string, std::string>>>& writes) {
  // The file as it is now, not as we read it at startup: edits made by
  // hand meanwhile stay.
  IniDocument doc = LoadFromDisk(app);
  for (const auto& [section, values] : writes) doc.SetMany(section, values);
  std::error_code ec;
  std::filesystem::create_directories(U8Path(folder_), ec);
  const std::string error = ReplaceFileAtomically(FilePath(app), doc.Serialize());
  if (error.empty()) return true;
  lastError_ = error;
  return false;
}

void IniSettingsBackend::BeginBatch() { ++batchDepth_; }

bool IniSettingsBackend::EndBatch() {
  if (batchDepth_ == 0 || --batchDepth_ > 0) return true;
  auto pending = std::exchange(pending_, {});
  batchCache_.clear();
  bool ok = true;
  for (const auto& [app, writes] : pending) ok = Commit(app, writes) && ok;
  return ok;
}

}  // namespace kavon::platform
