#include "audio/RecordingJournal.h"

#include <algorithm>
#include <fstream>
#include <utility>

#include "platform/FileSync.h"
#include "platform/Utf8Path.h"

namespace kavon {

std::vector<std::string> RecordingJournal::Read() const {
  std::ifstream in(platform::U8Path(path_), std::ios::binary);
  std::vector<std::string> files;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && std::find(files.begin(), files.end(), line) == files.end()) files.push_back(line);
  }
  return files;
}

bool RecordingJournal::Enter(const std::string& file) {
  // One name a line: a name that would read back as two is never entered,
  // so the journal can never name a file kavon did not make.
  if (file.empty() || file.find_first_of("\r\n") != std::string::npos) return false;
  std::lock_guard lock(mutex_);
  if (std::find(open_.begin(), open_.end(), file) != open_.end()) return true;
  open_.push_back(file);
  return Save();
}

void RecordingJournal::Leave(const std::string& file) {
  std::lock_guard lock(mutex_);
  const auto it = std::find(open_.begin(), open_.end(), file);
  if (it == open_.end()) return;
  open_.erase(it);
  Save();
}

void RecordingJournal::Reset() {
  std::lock_guard lock(mutex_);
  open_.clear();
  Save();
}

std::string RecordingJournal::TakeFailure() {
  std::lock_guard lock(mutex_);
  return std::exchange(failure_, {});
}

bool RecordingJournal::Save() {
  std::string text;
  for (const auto& file : open_) text += file + "\n";
  const std::string error = platform::ReplaceFileAtomically(path_, text);
  if (!error.empty() && failure_.empty()) failure_ = error;
  return error.empty();
}

}  // namespace kavon
