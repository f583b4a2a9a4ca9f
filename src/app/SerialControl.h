#pragma once
// The serial control box as the tick sees it: in code mode one byte per
// tick is a control code and lamp codes go back as single bytes; in
// time-signal mode the box's time records set the clock. A port that hangs
// up or goes away is closed, logged once, shown, and opened again by the
// tick once it is back (at most one attempt a second).
#include <memory>
#include <string>

#include "app/AppState.h"
#include "devices/C_Com.h"
#include "devices/FCT_Serial.h"

namespace kavon {

class SerialControl : public ControlDevice {
 public:
  SerialControl(AppState& app, platform::SerialSystem& system);

  // Opens the port from the settings (ComNo, ComName, ComBaud, UseBCD). 1
  // when open; 0 with "Com" + n + "が開けません" for the user when not, or
  // when ComNo is 0 (no port, no message).
  int OpenSerial();
  void Close();
  bool IsOpen() const { return port_ && port_->IsOpen(); }
  const std::string& Device() const { return device_; }

  int ReadCode() override;
  void WriteLamp(int code) override;
  bool TimeSignalMode() const override { return timeSignal_; }
  void ReadTimeSignal() override;

 private:
  // False while the port is lost; tries to open it again once a second.
  bool Available();
  void Configure(C_Com& port) const;

  AppState& app_;
  platform::SerialSystem& system_;
  std::unique_ptr<C_Com> port_;
  TimeSignalDecoder decoder_;
  bool timeSignal_ = false;
  std::string device_;
  bool lost_ = false;
  double lastAttempt_ = 0;  // steady seconds
};

}  // namespace kavon
