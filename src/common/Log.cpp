#include "common/Log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <utility>

#include "common/FileHelpers.h"
#include "common/Text.h"
#include "platform/FileSync.h"
#include "platform/Utf8Path.h"

namespace kavon {

std::string StampText(const platform::CivilTime& t) {
  return Pad(t.year, 4) + "/" + Pad(t.month, 2) + "/" + Pad(t.day, 2) + " " + Pad(t.hour, 2) + ":" +
         Pad(t.minute, 2) + ":" + Pad(t.second, 2);
}

std::string WithoutLogStamp(const std::string& line) {
  constexpr size_t kStamp = 20;  // "2024/03/01 10:00:00 "
  return line.size() >= kStamp && line[4] == '/' && line[13] == ':' ? line.substr(kStamp) : line;
}

std::string Log::DayFile(const platform::CivilTime& day, bool error) const {
  const std::string name = base_ + Pad(day.year, 4) + Pad(day.month, 2) + Pad(day.day, 2) + (error ? ".err" : ".log");
  return platform::U8String(platform::U8Path(folder_) / platform::U8Path(name));
}

void Log::WriteLog(const std::string& text, int kind, int force) {
  if (force == 0 && !enabled_) return;
  if (folder_.empty()) return;
  // One reading of the clock names the file and stamps the line, so a line
  // written at midnight never lands in the other day's file.
  const platform::CivilTime now = clock_.NowLocal();
  const std::string line = StampText(now) + ' ' + text;
  if (echo_) echo_(line, kind != 0);
  const std::string file = DayFile(now, kind != 0);
  if (kind == 0) {
    if (!unsynced_.empty() && unsynced_ != file) Sync(unsynced_);  // the day changed
    unsynced_ = file;
  }
  if (writeBehind_) {
    lines_.Post(NextKey(), [this, folder = folder_, file, line, error = kind != 0] { Append(folder, file, line, error); });
  } else {
    Append(folder_, file, line, kind != 0);
  }
  if (kind == 0) SyncIfDue();
}

void Log::Append(const std::string& folder, const std::string& file, const std::string& line, bool error) {
  std::error_code ec;
  std::filesystem::create_directories(platform::U8Path(folder), ec);
  std::ofstream out(platform::U8Path(file), std::ios::binary | std::ios::app);
  if (out) out << line << "\r\n";
  if (out) out.flush();
  if (out) {
    out.close();
    if (failing_.exchange(false)) std::cerr << "kavon: the log in " << folder << " can be written again\n";
    // Errors are rare and the first thing read after a cut: synced now
    // (here when this is the writer's own thread).
    if (error && writeBehind_) platform::SyncFileData(file);
    if (error && !writeBehind_) Sync(file);
    return;
  }
  if (failing_.exchange(true)) return;
  const int err = errno;
  const std::string why = ec ? ec.message() : err ? std::strerror(err) : "write failed";
  std::cerr << "kavon: cannot write the log in " << folder << " (" << why << "); going on without it\n";
}

void Log::Flush() { lines_.Flush(); }

void Log::Sync(const std::string& file) {
  if (!writeBehind_) {
    syncer_.Post(file, [file] { platform::SyncFileData(file); });
    return;
  }
  // Behind the lines queued before it, so it covers them.
  lines_.Post(NextKey(), [file] { platform::SyncFileData(file); });
}

std::string Log::NextKey() {
  // Numbered keys keep the work in the order it was asked for.
  char key[24];
  std::snprintf(key, sizeof key, "%020llu", static_cast<unsigned long long>(++posted_));
  return key;
}

void Log::SyncIfDue(bool force) {
  if (force) lines_.Flush();
  if (unsynced_.empty()) return;
  const double now = clock_.SteadySeconds();
  if (!force && now - lastSync_ < kLogSyncSeconds) return;
  Sync(unsynced_);
  if (force) {
    syncer_.Flush();
    lines_.Flush();
  }
  unsynced_.clear();
  lastSync_ = now;
}

void Log::RepairTails() {
  const platform::CivilTime now = clock_.NowLocal();
  for (const bool error : {false, true}) {
    const std::string file = DayFile(now, error);
    if (const int64_t cut = CutNulTail(file); cut > 0) {
      WriteLog("ログの壊れた末尾を切り詰め " + file + " " + std::to_string(cut) + "バイト", 1);
    }
  }
}

int64_t CutNulTail(const std::string& path) {
  const int64_t size = FileSizeOfPath(path);
  if (size <= 0) return 0;
  // The tail is read from the end, a block at a time, up to the last byte
  // that is not NUL; the text before it is left as it is.
  constexpr int64_t kBlock = 65536;
  int64_t end = size;
  std::string block;
  while (end > 0) {
    const int64_t from = std::max<int64_t>(0, end - kBlock);
    block.assign(static_cast<size_t>(end - from), '\0');
    if (!ReadFileAt(block.data(), block.size(), path, static_cast<uint64_t>(from))) return 0;
    const size_t last = block.find_last_not_of('\0');
    if (last != std::string::npos) {
      end = from + static_cast<int64_t>(last) + 1;
      break;
    }
    end = from;
  }
  if (end == size) return 0;
  // A line the cut left without its end goes with the NULs.
  const int64_t from = std::max<int64_t>(0, end - kBlock);
  block.assign(static_cast<size_t>(end - from), '\0');
  if (!ReadFileAt(block.data(), block.size(), path, static_cast<uint64_t>(from))) return 0;
  const size_t lineEnd = block.find_last_of('\n');
  const int64_t keep = lineEnd == std::string::npos ? from : from + static_cast<int64_t>(lineEnd) + 1;
  return SetFileSize(path, static_cast<uint64_t>(keep)) ? size - keep : 0;
}

}  // namespace kavon
