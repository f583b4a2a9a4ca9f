#include "platform/linux/IniFile.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/FileSync.h"

namespace kavon::platform {
namespace {

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
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

}  // namespace

IniDocument IniDocument::Parse(const std::string& text) {
  IniDocument doc;
  std::string body = text;
  if (body.rfind("\xEF\xBB\xBF", 0) == 0) body.erase(0, 3);
  std::istringstream in(body);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    doc.lines_.push_back(line);
  }
  return doc;
}

std::string IniDocument::Serialize() const {
  std::string out;
  for (const auto& line : lines_) out += line + "\n";
  return out;
}

std::optional<std::string> IniDocument::Get(const std::string& section,
                                            const std::string& key) const {
  bool inSection = false;
  for (const auto& line : lines_) {
    if (auto s = SectionOf(line)) {
      inSection = EqualNoCase(*s, section);
      continue;
    }
    if (!inSection) continue;
    auto entry = EntryOf(line);
    if (entry && EqualNoCase(entry->first, key)) return entry->second;
  }
  return std::nullopt;
}

void IniDocument::Set(const std::string& section, const std::string& key,
                      const std::string& value) {
  const std::string newLine = key + "=" + value;
  bool inSection = false;
  std::optional<size_t> sectionEnd;  // index after the last line of the section
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (auto s = SectionOf(lines_[i])) {
      inSection = EqualNoCase(*s, section);
      if (inSection) sectionEnd = i + 1;
      continue;
    }
    if (!inSection) continue;
    auto entry = EntryOf(lines_[i]);
    if (entry && EqualNoCase(entry->first, key)) {
      lines_[i] = newLine;
      return;
    }
    if (!Trim(lines_[i]).empty()) sectionEnd = i + 1;
  }
  if (sectionEnd) {
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(*sectionEnd), newLine);
    return;
  }
  lines_.push_back("[" + section + "]");
  lines_.push_back(newLine);
}

IniSettingsBackend::IniSettingsBackend(std::string folder) : folder_(std::move(folder)) {}

std::string IniSettingsBackend::FilePath(const std::string& app) const {
  return (std::filesystem::path(folder_) / (app + ".ini")).string();
}

IniDocument& IniSettingsBackend::Load(const std::string& app) {
  auto it = cache_.find(app);
  if (it != cache_.end()) return it->second;
  std::ifstream in(FilePath(app), std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  return cache_.emplace(app, IniDocument::Parse(text.str())).first->second;
}

std::optional<std::string> IniSettingsBackend::Read(const std::string& app,
                                                    const std::string& section,
                                                    const std::string& key) {
  return Load(app).Get(section, key);
}

bool IniSettingsBackend::Write(const std::string& app, const std::string& section,
                               const std::string& key, const std::string& value) {
  IniDocument& doc = Load(app);
  IniDocument changed = doc;
  changed.Set(section, key, value);
  std::error_code ec;
  std::filesystem::create_directories(folder_, ec);
  std::string error = ReplaceFileAtomically(FilePath(app), changed.Serialize());
  if (!error.empty()) {
    lastError_ = error;
    return false;
  }
  doc = std::move(changed);
  return true;
}

}  // namespace kavon::platform
