#include "app/SerialControl.h"

#include "app/ClockAdjust.h"
#include "app/RecordingControl.h"
#include "common/Text.h"

namespace kavon {
namespace {

constexpr int kTimeSignalBaud = 2400;
constexpr int kTimeSignalDataSize = 18;
constexpr double kReopenEverySeconds = 1.0;

}  // namespace

SerialControl::SerialControl(AppState& app, platform::SerialSystem& system) : app_(app), system_(system) {}

void SerialControl::Configure(C_Com& port) const {
  const Settings& s = app_.settings;
  port.ParityBit(0);
  port.StopBit(0);
  port.ComPort("Com" + std::to_string(s.ComNo));
  port.ComName(s.ComName);
  if (timeSignal_) {
    port.BaudRate(kTimeSignalBaud);
    port.DataSize(kTimeSignalDataSize);
    return;
  }
  const auto baud = ParseInteger(s.ComBaud, 1, 4000000);
  port.BaudRate(baud ? static_cast<long>(*baud) : 38400);
  port.DataSize(1);
}

int SerialControl::OpenSerial() {
  Close();
  const Settings& s = app_.settings;
  if (s.ComNo <= 0) return 0;
  timeSignal_ = s.UseBCD != 0;
  port_ = std::make_unique<C_Com>(system_);
  Configure(*port_);
  if (port_->OpenComm() == 1) {
    device_ = port_->Device();
    app_.log.WriteLog("シリアルポート " + port_->ComPort() + " " + device_);
    return 1;
  }
  const std::string n = std::to_string(s.ComNo);
  app_.messages.push_back(app_.lang.Text("Com" + n + "が開けません", "Can not open Com" + n));
  app_.log.WriteLog("Com" + n + "が開けません " + port_->LastError(), 1);
  // Not yet there (an adapter enumerated after kavon started) or busy:
  // looked for again once a second, never replaced by another port.
  waiting_ = true;
  lastAttempt_ = app_.clock.SteadySeconds();
  app_.serialProblem = "シリアルポート未接続 " + (s.ComName.empty() ? "Com" + n : s.ComName);
  return 0;
}

void SerialControl::Close() {
  if (port_) port_->CloseComm();
  port_.reset();
  waiting_ = false;
  app_.serialProblem.clear();
}

bool SerialControl::Available() {
  if (!port_) return false;
  if (!waiting_ && port_->Lost()) {
    // Once: the port is closed and the user sees why; the tick tries again.
    waiting_ = true;
    port_->CloseComm();
    // The same device or none: never another port that now has its number.
    port_->ComName(device_);
    lastAttempt_ = app_.clock.SteadySeconds();
    app_.serialProblem = "シリアルポート切断 " + device_;
    app_.log.WriteLog(app_.serialProblem, 1);
    return false;
  }
  if (!waiting_) return port_->IsOpen();
  const double now = app_.clock.SteadySeconds();
  if (now - lastAttempt_ < kReopenEverySeconds) return false;
  lastAttempt_ = now;
  if (port_->OpenComm() != 1) return false;
  waiting_ = false;
  const bool back = !device_.empty();
  device_ = port_->Device();
  app_.serialProblem.clear();
  app_.log.WriteLog(back ? "シリアルポート再接続 " + device_ : "シリアルポート " + port_->ComPort() + " " + device_);
  SendLampState();
  return true;
}

void SerialControl::SendLampState() {
  for (const int code : LampStateCodes(app_)) port_->SendDataB({static_cast<uint8_t>(code)}, 1);
}

int SerialControl::ReadCode() {
  if (timeSignal_ || !Available()) return 0;
  std::vector<uint8_t> bytes(2);
  port_->RecvDataB(bytes);
  return bytes[0] > 0 ? bytes[1] : 0;
}

void SerialControl::WriteLamp(int code) {
  if (!Available()) return;
  port_->SendDataB({static_cast<uint8_t>(code)}, 1);
}

void SerialControl::ReadTimeSignal() {
  if (!timeSignal_ || !Available()) return;
  const AdjustSettings s{app_.settings.AHour, app_.settings.AMinute, app_.settings.ASecond, app_.settings.AdjustMode};
  kavon::ReadTimeSignal(*port_, decoder_, s, [this] { AdjustClock(app_); });
}

}  // namespace kavon
