#include "app/Health.h"

#include <filesystem>
#include <set>

#include "common/Text.h"
#include "platform/Utf8Path.h"

namespace kavon {
namespace {

constexpr double kDiskCheckEverySeconds = 10.0;

std::string Number(int ch) { return std::to_string(ch + 1); }

}  // namespace

void Health::Begin(bool& flag, const std::string& text) {
  if (flag) return;
  flag = true;
  app_.log.WriteLog(text, 1);
}

void Health::End(bool& flag, const std::string& text) {
  if (!flag) return;
  flag = false;
  app_.log.WriteLog(text, 1);
}

void Health::BufferArrived(int ch, double peakDb) {
  Channel& h = channels_[static_cast<size_t>(ch)];
  const ChannelCapture& c = app_.capture.Channel(ch);
  const double now = app_.clock.SteadySeconds();
  h.lastBuffer = now;
  End(h.stalled, "録音デバイス再開 " + Number(ch) + " " + c.RecFileName);
  const int limit = app_.settings.DeadAirSec;
  if (limit <= 0 || c.IsRecording != 1) return;
  if (peakDb >= app_.settings.MuonOutLevel) {
    h.quietSince = -1;
    End(h.deadAir, "無音警告解消 " + Number(ch) + " " + c.RecFileName);
    return;
  }
  if (h.quietSince < 0) h.quietSince = now;
  if (now - h.quietSince > limit) Begin(h.deadAir, "無音警告 " + Number(ch) + " " + c.RecFileName);
}

void Health::Check() {
  const double now = app_.clock.SteadySeconds();
  for (int ch = 0; ch <= app_.settings.NumRec; ++ch) {
    Channel& h = channels_[static_cast<size_t>(ch)];
    const ChannelCapture& c = app_.capture.Channel(ch);
    const bool open = c.IsOpen == 1;
    if (open && !h.open) {
      h.lastBuffer = now;
      h.quietSince = -1;
    }
    if (!open && h.open) {
      // A warning of a recording ends with it.
      End(h.deadAir, "無音警告解消 " + Number(ch) + " " + c.RecFileName);
      End(h.stalled, "録音デバイス再開 " + Number(ch) + " " + c.RecFileName);
    }
    h.open = open;
    if (open && now - h.lastBuffer > kStalledSeconds) Begin(h.stalled, "録音デバイス停止 " + Number(ch) + " " + c.RecFileName);
  }
  if (now - lastDiskCheck_ >= kDiskCheckEverySeconds) {
    lastDiskCheck_ = now;
    CheckDisks();
  }
}

void Health::CheckDisks() {
  // Per folder: what its open channels write in DiskWarnMin minutes.
  std::map<std::string, int> openPerFolder;
  for (int ch = 0; ch <= app_.settings.NumRec; ++ch) {
    const ChannelCapture& c = app_.capture.Channel(ch);
    if (c.IsOpen != 1) continue;
    const std::string folder = platform::U8String(platform::U8Path(c.RecFileName).parent_path());
    ++openPerFolder[folder];
  }
  const double perChannel = static_cast<double>(app_.capture.Format().avgBytesPerSec) * 60.0 * app_.settings.DiskWarnMin;
  for (auto& [folder, warned] : lowDisk_) {
    if (openPerFolder.count(folder) == 0 || app_.settings.DiskWarnMin <= 0) End(warned, "空き容量回復 " + folder);
  }
  if (app_.settings.DiskWarnMin <= 0) return;
  for (const auto& [folder, open] : openPerFolder) {
    std::error_code ec;
    const auto space = std::filesystem::space(platform::U8Path(folder), ec);
    if (ec) continue;
    const double needed = perChannel * open;
    const double minutes = static_cast<double>(space.available) / (perChannel / app_.settings.DiskWarnMin * open);
    bool& warned = lowDisk_[folder];
    if (static_cast<double>(space.available) < needed) {
      Begin(warned, "空き容量不足 " + folder + " 残り" + FormatFixed(minutes, 0) + "分");
    } else {
      End(warned, "空き容量回復 " + folder);
    }
  }
}

Health::Active Health::ActiveOn(int ch) const {
  const Channel& h = channels_[static_cast<size_t>(ch)];
  const ChannelCapture& c = app_.capture.Channel(ch);
  Active a;
  a.deadAir = h.deadAir;
  a.stalled = h.stalled;
  if (c.IsOpen == 1) {
    const auto it = lowDisk_.find(platform::U8String(platform::U8Path(c.RecFileName).parent_path()));
    a.lowDisk = it != lowDisk_.end() && it->second;
  }
  a.backlog = c.Backlogged;
  return a;
}

std::string Health::Warnings(int ch) const {
  const Active a = ActiveOn(ch);
  std::vector<std::string> parts;
  if (a.deadAir) parts.push_back("無音");
  if (a.stalled) parts.push_back("デバイス停止");
  if (a.lowDisk) parts.push_back("空き容量不足");
  if (a.backlog) parts.push_back("書き込み遅延");
  std::string out;
  for (const auto& p : parts) out += (out.empty() ? "" : " / ") + p;
  return out;
}

}  // namespace kavon
