#include "app/Heartbeat.h"

#include <fstream>

#include "common/FileHelpers.h"
#include "common/Text.h"
#include "platform/Utf8Path.h"

namespace kavon {

void Heartbeat::ReadPrevious() {
  std::ifstream in(platform::U8Path(path_));
  std::string text;
  std::getline(in, text);
  // A file cut by a power cut reads as empty or short: then nothing is known.
  const auto ms = ParseInteger(Trim(text), 1, INT64_MAX);
  if (ms && IsDigits(Trim(text))) previous_ = platform::SysMs{std::chrono::milliseconds{*ms}};
}

void Heartbeat::Beat(bool force) {
  const double now = clock_.SteadySeconds();
  if (!force && lastBeat_ && now - *lastBeat_ < kHeartbeatSeconds) return;
  lastBeat_ = now;
  const std::string line = std::to_string(clock_.NowUtc().time_since_epoch().count()) + "\n";
  // Written in place, not synced: a lost beat only makes the next start
  // know a few seconds less; the disk is not woken for it. Overwritten,
  // never truncated (a truncation waits for the file system's journal on
  // a busy disk): the line is always 13 digits long until the year 2286.
  // A beat not yet written is replaced by the newer one.
  writer_.Post("beat", [this, line] { WriteFileAt(line.data(), line.size(), 0, path_); });
  if (force) writer_.Flush();
}

}  // namespace kavon
