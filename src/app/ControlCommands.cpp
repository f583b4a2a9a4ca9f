#include "app/ControlCommands.h"

#include <cmath>
#include <sstream>
#include <vector>

#include "app/Metrics.h"
#include "common/Text.h"
#include "common/Translate.h"

namespace kavon {
namespace {

std::vector<std::string> Words(const std::string& request) {
  std::istringstream in(request);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

std::string Json(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += "\\u00" + std::string{"0123456789abcdef"[(c >> 4) & 0xF], "0123456789abcdef"[c & 0xF]};
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

const char* StateOf(const ChannelCapture& c, const ChannelView& v) {
  if (c.IsOpen != 1) return v.waitingToRecord ? "waiting for the device" : "stopped";
  return c.IsRecording == 1 ? "recording" : "waiting";
}

double LevelOf(const ChannelView& v) { return std::max(v.meanDb[0], v.meanDb[1]); }

std::string Status(FrmMain& app, bool json) {
  AppState& s = app.state();
  const auto next = app.tick().NextDue();
  std::string out = "OK\n";
  if (json) out = "OK\n{\"channels\":[";
  for (int ch = 0; ch <= s.settings.NumRec; ++ch) {
    const ChannelCapture& c = s.capture.Channel(ch);
    const ChannelView& v = s.view[static_cast<size_t>(ch)];
    // In kavon's language, as its window shows them.
    const std::string warnings = Translate(s.lang, v.Trouble());
    // What a power cut now would cost: audio in memory, not yet on the disk.
    const double unwritten =
        static_cast<double>(s.capture.UnwrittenBytes(ch)) / std::max<uint32_t>(1, s.capture.Format().avgBytesPerSec);
    if (json) {
      out += std::string(ch == 0 ? "" : ",") + "{\"channel\":" + std::to_string(ch + 1) + ",\"state\":\"" + StateOf(c, v) +
             "\",\"file\":" + Json(c.IsOpen == 1 ? c.RecFileName : "") + ",\"elapsed\":" + Json(v.timeText) +
             ",\"level_db\":" + FormatFixed(LevelOf(v), 1) + ",\"unwritten_seconds\":" + FormatFixed(unwritten, 2) +
             ",\"frames_lost\":" + std::to_string(c.FramesDropped) + ",\"warnings\":" + Json(warnings) + "}";
      continue;
    }
    out += "channel " + std::to_string(ch + 1) + ": " + StateOf(c, v);
    if (c.IsOpen == 1) {
      out += " " + v.timeText + " " + FormatFixed(LevelOf(v), 1) + " dB " + c.RecFileName + " (unwritten " +
             FormatFixed(unwritten, 1) + " s";
      // Audio the device delivered that never reached the recording.
      if (c.FramesDropped > 0) {
        out += ", lost " + FormatFixed(static_cast<double>(c.FramesDropped) / s.settings.nFreq, 3) + " s";
      }
      out += ")";
    }
    if (!warnings.empty()) out += " [" + warnings + "]";
    out += "\n";
  }
  if (json) {
    out += "],\"next\":";
    out += next ? "{\"start\":" + Json(next->first) + ",\"channel\":" + std::to_string(next->second.Ch + 1) +
                      ",\"title\":" + Json(next->second.FileTitle) + "}"
                : std::string("null");
    return out + ",\"timer_on\":" + (s.TimerOn == 1 ? "true" : "false") +
           ",\"missed_programmes\":" + std::to_string(s.missedProgrammes) + "}\n";
  }
  if (s.missedProgrammes > 0) out += "missed programmes: " + std::to_string(s.missedProgrammes) + " (named in the .err log)\n";
  if (s.TimerOn != 1) return out + "next: the timer is off\n";
  if (!next) return out + "next: none\n";
  return out + "next: " + next->first + " channel " + std::to_string(next->second.Ch + 1) + " " + next->second.FileTitle + "\n";
}

}  // namespace

std::string AnswerControlRequest(FrmMain& app, const std::string& request) {
  const std::vector<std::string> w = Words(request);
  if (w.empty()) return "ERROR empty request\n";
  AppState& s = app.state();
  if (w[0] == "status" && (w.size() == 1 || (w.size() == 2 && w[1] == "--json"))) return Status(app, w.size() == 2);
  if (w[0] == "metrics" && w.size() == 1) return "OK\n" + RenderMetrics(CollectMetrics(app));
  if (w[0] == "quit" && w.size() == 1) {
    s.quitRequested = true;
    return "OK quitting\n";
  }
  if (w[0] == "reload-timers" && w.size() == 1) {
    app.ReloadTimerList();
    return "OK " + std::to_string(s.timers.Count()) + " timer entries\n";
  }
  if ((w[0] == "start" || w[0] == "stop") && w.size() == 2) {
    const auto n = ParseInteger(w[1], 1, kMaxChannels);
    if (!n || !IsDigits(w[1]) || !s.IsChannel(static_cast<int>(*n) - 1)) {
      return "ERROR no channel " + w[1].substr(0, 20) + " (1 to " + std::to_string(s.settings.NumRec + 1) + ")\n";
    }
    const int ch = static_cast<int>(*n) - 1;
    const ChannelCapture& c = s.capture.Channel(ch);
    if (w[0] == "start") {
      if (c.IsOpen == 1) return "ERROR channel " + w[1] + " is already open: " + c.RecFileName + "\n";
      app.recording().RecButtonClick(ch, 0, Origin::ControlCode);
      const std::string why = Translate(s.lang, s.view[static_cast<size_t>(ch)].error);
      if (app.recording().IsWaitingToRecord(ch)) return "OK waiting for the device, tried every 2 s: " + why + "\n";
      if (c.IsOpen != 1) return "ERROR channel " + w[1] + " did not start: " + why + "\n";
      return "OK recording " + c.RecFileName + "\n";
    }
    if (c.IsOpen != 1 && app.recording().IsWaitingToRecord(ch)) {
      app.recording().RecButtonClick(ch, 1, Origin::ControlCode);
      return "OK stopped waiting for the device\n";
    }
    if (c.IsOpen != 1) return "ERROR channel " + w[1] + " is not open\n";
    const std::string file = c.RecFileName;
    app.recording().RecButtonClick(ch, 1, Origin::ControlCode);
    return "OK stopped " + file + "\n";
  }
  return "ERROR unknown request '" + request.substr(0, 60) + "' (status [--json], metrics, start N, stop N, reload-timers, quit)\n";
}

}  // namespace kavon
