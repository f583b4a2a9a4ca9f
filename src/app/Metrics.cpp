#include "app/Metrics.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <set>
#include <sstream>

#include "Version.h"
#include "app/FrmMain.h"
#include "app/HttpEndpoint.h"
#include "common/Text.h"
#include "common/Translate.h"
#include "platform/Utf8Path.h"
#include "schedule/DateTime.h"

namespace kavon {
namespace {

std::string LabelValue(const std::string& v) {
  std::string out;
  for (const char c : v) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

// Integers as integers, the rest with enough digits to round-trip.
std::string Number(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "+Inf" : "-Inf";
  std::ostringstream out;
  out.precision(15);
  out << v;
  return out.str();
}

class Exposition {
 public:
  void Family(const std::string& name, const char* type, const std::string& help) {
    name_ = name;
    text_ += "# HELP " + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  }
  void Sample(double value, const std::string& labels = "", const std::string& suffix = "") {
    text_ += name_ + suffix + (labels.empty() ? "" : "{" + labels + "}") + " " + Number(value) + "\n";
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string name_;
  std::string text_;
};

std::string Channel(size_t ch) { return "channel=\"" + std::to_string(ch + 1) + "\""; }

void ChannelFamilies(Exposition& e, const MetricsSnapshot& s) {
  const auto each = [&](const std::string& name, const char* type, const std::string& help, auto value) {
    e.Family(name, type, help);
    for (size_t ch = 0; ch < s.channels.size(); ++ch) value(Channel(ch), s.channels[ch]);
  };
  using C = MetricsSnapshot::Channel;
  each("kavon_channel_recording", "gauge", "1 while the channel writes a recording.",
       [&](const std::string& l, const C& c) { e.Sample(c.open && c.recording, l); });
  each("kavon_channel_waiting_for_sound", "gauge", "1 while the channel is open and waits for sound before writing.",
       [&](const std::string& l, const C& c) { e.Sample(c.open && !c.recording, l); });
  each("kavon_channel_waiting_for_device", "gauge",
       "1 while the channel should record and waits for its device or file (tried every 2 s).",
       [&](const std::string& l, const C& c) { e.Sample(c.waitingForDevice, l); });
  each("kavon_frames_written_total", "counter", "Audio frames handed to the disk, per channel.",
       [&](const std::string& l, const C& c) { e.Sample(static_cast<double>(c.totals.framesWritten), l); });
  each("kavon_frames_lost_total", "counter",
       "Audio frames lost, by cause: device (an overrun or a stall: kavon did not read in time), backlog (the disk "
       "was a minute behind), write_error (writes that failed).",
       [&](const std::string& l, const C& c) {
         e.Sample(static_cast<double>(c.totals.lostDevice), l + ",cause=\"device\"");
         e.Sample(static_cast<double>(c.totals.lostBacklog), l + ",cause=\"backlog\"");
         e.Sample(static_cast<double>(c.totals.lostWriteError), l + ",cause=\"write_error\"");
       });
  each("kavon_write_errors_total", "counter", "Disk writes that failed, per channel.",
       [&](const std::string& l, const C& c) { e.Sample(static_cast<double>(c.totals.writeErrors), l); });
  each("kavon_warning_active", "gauge",
       "1 while a warning is active on the channel: dead_air, device_stalled, disk_space, write_backlog.",
       [&](const std::string& l, const C& c) {
         e.Sample(c.warnings.deadAir, l + ",kind=\"dead_air\"");
         e.Sample(c.warnings.stalled, l + ",kind=\"device_stalled\"");
         e.Sample(c.warnings.lowDisk, l + ",kind=\"disk_space\"");
         e.Sample(c.warnings.backlog, l + ",kind=\"write_backlog\"");
       });
  each("kavon_level_dbfs", "gauge", "The meter's last mean level, dB below full scale.",
       [&](const std::string& l, const C& c) {
         e.Sample(c.meanDb[0], l + ",side=\"left\"");
         e.Sample(c.meanDb[1], l + ",side=\"right\"");
       });
}

void TimerFamilies(Exposition& e, const MetricsSnapshot& s) {
  e.Family("kavon_timer_entries", "gauge", "Entries in the timer list.");
  e.Sample(static_cast<double>(s.timerEntries));
  e.Family("kavon_timer_fired_total", "counter", "Recordings started by the timer list.");
  e.Sample(static_cast<double>(s.timerFired));
  e.Family("kavon_timer_missed_total", "counter", "Timer programmes of which nothing could be recorded.");
  e.Sample(static_cast<double>(s.timerMissed));
  // Only while there is a next start: no sample rather than a made-up one.
  if (!s.nextStart) return;
  e.Family("kavon_next_timer_start_seconds", "gauge", "When the next timer entry starts, in Unix time.");
  e.Sample(*s.nextStart);
}

void DiskFamily(Exposition& e, const MetricsSnapshot& s) {
  e.Family("kavon_disk_free_bytes", "gauge", "Free space of the disk holding a channel folder.");
  for (const auto& [folder, bytes] : s.diskFree) e.Sample(bytes, "path=\"" + LabelValue(folder) + "\"");
}

void TickFamily(Exposition& e, const TickHistogram& h) {
  e.Family("kavon_tick_seconds", "histogram", "How long each main tick took.");
  uint64_t cumulative = 0;
  for (size_t i = 0; i < h.kBounds.size(); ++i) {
    cumulative += h.counts[i];
    e.Sample(static_cast<double>(cumulative), "le=\"" + Number(h.kBounds[i]) + "\"", "_bucket");
  }
  e.Sample(static_cast<double>(h.count), "le=\"+Inf\"", "_bucket");
  e.Sample(h.sum, "", "_sum");
  e.Sample(static_cast<double>(h.count), "", "_count");
}

std::string Html(const std::string& s) {
  std::string out;
  for (const char c : s) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

MetricsSnapshot CollectMetrics(FrmMain& app) {
  AppState& a = app.state();
  MetricsSnapshot s;
  s.startTime = a.counters.startTime;
  std::set<std::string> folders;
  for (int ch = 0; ch <= a.settings.NumRec; ++ch) {
    const ChannelCapture& c = a.capture.Channel(ch);
    const ChannelView& v = a.view[static_cast<size_t>(ch)];
    MetricsSnapshot::Channel out;
    out.open = c.IsOpen == 1;
    out.recording = c.IsRecording == 1;
    out.waitingForDevice = v.waitingToRecord;
    out.totals = c.Totals;
    out.warnings = app.tick().health().ActiveOn(ch);
    out.meanDb = v.meanDb;
    if (out.open) {
      out.timeText = v.timeText;
      out.file = c.RecFileName;
    }
    out.trouble = Translate(a.lang, v.Trouble());
    s.channels.push_back(std::move(out));
    folders.insert(app.recording().ChannelFolder(ch));
  }
  s.now = a.displayDate + " " + a.displayTime;
  s.timerOn = a.TimerOn == 1;
  s.timerEntries = a.timers.Count();
  s.timerFired = a.counters.timerFired;
  s.timerMissed = static_cast<uint64_t>(std::max<int64_t>(0, a.missedProgrammes));
  if (const auto next = app.tick().NextDue()) {
    const double now = std::chrono::duration<double>(a.clock.NowUtc().time_since_epoch()).count();
    s.nextStart = std::floor(now) + static_cast<double>(SecondsBetween(s.now, next->first));
    s.nextText = next->first + " channel " + std::to_string(next->second.Ch + 1) + " " + next->second.FileTitle + " (" +
                 std::to_string(next->second.Length) + " s)";
  }
  for (const auto& folder : folders) {
    std::error_code ec;
    const auto space = std::filesystem::space(platform::U8Path(folder.empty() ? "." : folder), ec);
    if (!ec) s.diskFree.emplace_back(folder, static_cast<double>(space.available));
  }
  s.tick = a.counters.tick;
  s.clockCorrections = a.counters.clockCorrections;
  s.serialOpen = a.serial != nullptr;
  s.hidOpen = a.hid != nullptr;
  return s;
}

std::string RenderMetrics(const MetricsSnapshot& s) {
  Exposition e;
  e.Family("kavon_build_info", "gauge", "Always 1; the version of kavon in its label.");
  e.Sample(1, "version=\"" + LabelValue(kVersion) + "\"");
  e.Family("kavon_start_time_seconds", "gauge", "When this kavon started, in Unix time.");
  e.Sample(s.startTime);
  ChannelFamilies(e, s);
  TimerFamilies(e, s);
  DiskFamily(e, s);
  TickFamily(e, s.tick);
  e.Family("kavon_clock_corrections_total", "counter", "Times the clock was set from the time signal.");
  e.Sample(static_cast<double>(s.clockCorrections));
  e.Family("kavon_box_connected", "gauge", "1 while the control box of the kind is open.");
  e.Sample(s.serialOpen, "kind=\"serial\"");
  e.Sample(s.hidOpen, "kind=\"hid\"");
  return e.Take();
}

std::string RenderStatusPage(const MetricsSnapshot& s) {
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><meta http-equiv=\"refresh\" content=\"2\">"
      "<title>kavon</title><style>body{font-family:sans-serif;margin:1.5em;background:#f7f7f7}"
      "table{border-collapse:collapse;background:#fff}td,th{border:1px solid #ccc;padding:.3em .7em;text-align:left}"
      "th{background:#e8e8e8}.rec{color:#fff;background:#c62828}.wait{background:#ffe082}.warn{color:#c62828;"
      "font-weight:bold}.bar{display:inline-block;height:.7em;background:#43a047;vertical-align:middle}"
      "</style></head><body>\n<h1>kavon " +
      Html(kVersion) + "</h1>\n<p>" + Html(s.now) + " &middot; timer " + (s.timerOn ? "on" : "off") + " &middot; " +
      std::to_string(s.timerEntries) + " entries" +
      (s.timerMissed > 0
           ? " &middot; <span class=\"warn\">missed programmes: " + std::to_string(s.timerMissed) + "</span>"
           : "") +
      "</p>\n<table><tr><th>channel</th><th>state</th><th>time</th><th>level</th><th>file</th><th>warnings</th></tr>\n";
  for (size_t ch = 0; ch < s.channels.size(); ++ch) {
    const MetricsSnapshot::Channel& c = s.channels[ch];
    const char* state = c.waitingForDevice ? "waiting for the device" : !c.open ? "stopped" : c.recording ? "recording" : "waiting";
    const double level = std::max(c.meanDb[0], c.meanDb[1]);
    const int width = static_cast<int>(std::clamp((level + 60.0) * 2.0, 0.0, 120.0));
    page += "<tr><td>" + std::to_string(ch + 1) + "</td><td class=\"" + (!c.open ? "" : c.recording ? "rec" : "wait") +
            "\">" + state + "</td><td>" + Html(c.timeText) + "</td><td>" +
            (c.open ? "<span class=\"bar\" style=\"width:" + std::to_string(width) + "px\"></span> " +
                          FormatFixed(level, 1) + " dB"
                    : "") +
            "</td><td>" + Html(c.file) + "</td><td class=\"warn\">" + Html(c.trouble) + "</td></tr>\n";
  }
  page += "</table>\n<h2>Next</h2>\n<p>";
  page += !s.nextText.empty() ? Html(s.nextText) : s.timerOn ? "none" : "the timer is off";
  return page + "</p>\n<p><a href=\"/metrics\">metrics</a></p>\n</body></html>\n";
}

std::optional<ListenAddress> ParseListenAddress(const std::string& text, std::string* why) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) {
    *why = "not host:port";
    return std::nullopt;
  }
  ListenAddress a;
  a.host = text.substr(0, colon);
  if (a.host.front() == '[') {
    if (a.host.size() < 3 || a.host.back() != ']') {
      *why = "an IPv6 address must stand in brackets: [::1]:9723";
      return std::nullopt;
    }
    a.host = a.host.substr(1, a.host.size() - 2);
  } else if (a.host.find(':') != std::string::npos) {
    *why = "an IPv6 address must stand in brackets: [::1]:9723";
    return std::nullopt;
  }
  const std::string port = text.substr(colon + 1);
  const auto n = ParseInteger(port, 1, 65535);
  if (!n || !IsDigits(port)) {
    *why = "the port must be a number from 1 to 65535";
    return std::nullopt;
  }
  a.port = static_cast<int>(*n);
  return a;
}

}  // namespace kavon
