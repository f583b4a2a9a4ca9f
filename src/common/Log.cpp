#include "common/Log.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <utility>

#include "common/Text.h"
#include "platform/Utf8Path.h"

namespace kavon {

std::string StampText(const platform::CivilTime& t) {
  return Pad(t.year, 4) + "/" + Pad(t.month, 2) + "/" + Pad(t.day, 2) + " " + Pad(t.hour, 2) + ":" +
         Pad(t.minute, 2) + ":" + Pad(t.second, 2);
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
  std::error_code ec;
  std::filesystem::create_directories(platform::U8Path(folder_), ec);
  std::ofstream out(platform::U8Path(DayFile(now, kind != 0)), std::ios::binary | std::ios::app);
  if (out) out << line << "\r\n";
  if (out) out.flush();
  if (out) {
    if (std::exchange(failing_, false)) std::cerr << "kavon: the log in " << folder_ << " can be written again\n";
    return;
  }
  if (std::exchange(failing_, true)) return;
  const int err = errno;
  const std::string why = ec ? ec.message() : err ? std::strerror(err) : "write failed";
  std::cerr << "kavon: cannot write the log in " << folder_ << " (" << why << "); going on without it\n";
}

}  // namespace kavon
