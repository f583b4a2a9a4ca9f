#include "schedule/TimerList.h"

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/FileHelpers.h"
#include "common/Helpers.h"
#include "common/Log.h"
#include "common/Text.h"
#include "platform/FileSync.h"
#include "platform/TextCodec.h"
#include "platform/Utf8Path.h"

namespace kavon {
namespace {

// Far beyond any schedule; a larger file is not a timer list.
constexpr uintmax_t kMaxFileBytes = 64u << 20;
// A damaged file must not flood the log: the first skipped lines are named,
// the rest counted.
constexpr int kMaxSkipLogs = 20;
constexpr const char* kFullWidthQuote = "\xE2\x80\x9D";  // ”

// A number field: non-numeric text reads as 0; a number beyond 32 bits is
// held at the nearest bound, so it can never alias a small valid value.
int32_t NumberField(const std::string& text) {
  const auto v = ParseNumber(text);
  if (!v) return 0;
  if (*v >= INT32_MAX) return INT32_MAX;
  if (*v <= INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(RoundHalfEven(*v));
}

std::string Quoted(const std::string& text) { return "\"" + ReplaceAll(text, "\"", kFullWidthQuote) + "\""; }

bool IsClockShape(const std::string& t) {
  return t.size() == 8 && IsDigits(t.substr(0, 2)) && t[2] == ':' && IsDigits(t.substr(3, 2)) && t[5] == ':' &&
         IsDigits(t.substr(6, 2));
}

}  // namespace

std::string EntryKey(const TimerEntry& e) {
  return e.Date + "|" + e.StartTime + "|" + std::to_string(e.WeekMask) + "|" + std::to_string(e.Ch) + "|" + e.FileTitle;
}

bool TimerEntry::IsFireable() const { return IsClockShape(StartTime) && Length >= 1; }

std::string NormalizeStartTime(const std::string& text) {
  const std::string padded = "0" + text;
  return text.size() == 7 && IsClockShape(padded) ? padded : text;
}

bool ParseTimerLine(const std::string& line, TimerEntry& e) {
  std::vector<std::string> f;
  if (SplitList(f, line, ",", true) < 7) return false;
  e = TimerEntry{};
  e.Ch = NumberField(f[0]);
  e.Length = NumberField(f[1]);
  e.Date = f[2];
  e.StartTime = NormalizeStartTime(f[3]);
  e.WeekMask = NumberField(f[4]);
  e.Ref = f[5];
  e.FileTitle = f[6];
  return true;
}

std::string FormatTimerLine(const TimerEntry& e) {
  return Quoted(std::to_string(e.Ch)) + "," + Quoted(std::to_string(e.Length)) + "," + Quoted(e.Date) + "," +
         Quoted(e.StartTime) + "," + Quoted(std::to_string(e.WeekMask)) + "," + Quoted(e.Ref) + "," +
         Quoted(e.FileTitle);
}

std::optional<std::string> ReadTimerBytes(const std::string& path, Log& log) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(platform::U8Path(path), ec);
  if (ec || size > kMaxFileBytes) {
    log.WriteLog("タイマー読込エラー " + path + (ec ? " " + ec.message() : " too large"), 1);
    return std::nullopt;
  }
  std::ifstream in(platform::U8Path(path), std::ios::binary);
  std::ostringstream buf;
  buf << in.rdbuf();
  if (!in || in.bad()) {
    log.WriteLog("タイマー読込エラー " + path, 1);
    return std::nullopt;
  }
  return buf.str();
}

bool EndsOnWholeRecord(const std::string& text) {
  if (text.empty() || text.back() == '\n') return true;
  const size_t start = text.find_last_of('\n');
  std::string last = text.substr(start == std::string::npos ? 0 : start + 1);
  if (!last.empty() && last.back() == '\r') last.pop_back();
  if (Trim(last).empty()) return true;
  std::vector<std::string> fields;
  return EndsWith(last, "\"") && SplitList(fields, last, ",", true) >= 7;
}

void RemoveStaleSaves(const std::string& path) {
  const std::string folder = SplitPath(path, true, false, false, false, false);
  const std::string name = SplitPath(path, false, false, true, true, true);
  platform::RemoveStaleTemporaries(folder, name);
  platform::RemoveStaleTemporaries(folder, name + ".bak");
}

bool TimerList::InputTimer(const std::string& path) {
  if (!FileExists(path)) return true;
  auto bytes = ReadTimerBytes(path, log_);
  return bytes && TakeText(std::move(*bytes), path);
}

bool TimerList::TakeText(std::string text, const std::string& path) {
  // Shift-JIS from Japanese Windows, UTF-16 from Notepad or PowerShell, a
  // byte order mark before the first field: all read as the same list.
  text = platform::DecodeText(text);
  if (!EndsOnWholeRecord(text)) {
    // A save in progress (or a file cut by a crash of its writer): a title
    // cut in half must never become a recording's name.
    log_.WriteLog("タイマー読込エラー " + path + " 最後の行が途中までです（書き込み中？）", 1);
    return false;
  }
  std::vector<TimerEntry> read;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  int skipped = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    TimerEntry e;
    if (ParseTimerLine(line, e)) {
      read.push_back(std::move(e));
    } else if (!Trim(line).empty() && ++skipped <= kMaxSkipLogs) {
      log_.WriteLog("タイマー行を読み飛ばし " + path + " " + std::to_string(number), 1);
    }
  }
  if (skipped > kMaxSkipLogs) {
    log_.WriteLog("タイマー行を読み飛ばし " + path + " 計" + std::to_string(skipped), 1);
  }
  if (read.empty() && skipped > 0) {
    // Not a timer list at all (a binary file, another format): keep ours.
    log_.WriteLog("タイマー読込エラー " + path + " 読める行がありません", 1);
    return false;
  }
  if (read.empty() && !entries_.empty()) {
    // Most often the moment between an editor's truncate and its write.
    log_.WriteLog("タイマー読込エラー " + path + " 空のファイル（今のリストのまま）", 1);
    return false;
  }
  entries_ = std::move(read);
  modified_ = false;
  ++version_;
  return true;
}

FileVersion FileVersionOf(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const auto st = fs::status(platform::U8Path(path), ec);
  FileVersion v;
  if (ec || !fs::exists(st)) return v;
  v.exists = true;
  v.regular = fs::is_regular_file(st);
  if (!v.regular) return v;
  v.size = fs::file_size(platform::U8Path(path), ec);
  const auto t = fs::last_write_time(platform::U8Path(path), ec);
  if (!ec) v.modified = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
  return v;
}

bool TimerList::OutputTimer(const std::string& path) {
  RemoveStaleSaves(path);
  // Whatever the old file held, lines we could not read among it, stays
  // recoverable.
  if (FileExists(path)) {
    std::ifstream in(platform::U8Path(path), std::ios::binary);
    std::ostringstream old;
    old << in.rdbuf();
    const std::string error = platform::ReplaceFileAtomically(path + ".bak", old.str(), path);
    if (!error.empty()) {
      log_.WriteLog("タイマー保存エラー " + error, 1);
      return false;
    }
    log_.WriteLog("タイマーの前の内容を保存 " + path + ".bak");
  }
  std::string error;
  if (entries_.empty()) {
    if (!DeleteFileForce(path)) error = path;
  } else {
    std::string text;
    for (const auto& e : entries_) text += FormatTimerLine(e) + "\r\n";
    error = platform::ReplaceFileAtomically(path, text);
  }
  if (!error.empty()) {
    log_.WriteLog("タイマー保存エラー " + error, 1);
    return false;  // still modified: the next save tries again
  }
  modified_ = false;
  return true;
}

}  // namespace kavon
