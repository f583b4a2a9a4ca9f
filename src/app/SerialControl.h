#pragma once
// The serial control box as the tick sees it: in code mode one byte per
// tick is a control code and lamp codes go back as single bytes; in
// time-signal mode the box's time records set the clock. A port that is
// missing or busy at start, or hangs up or goes away later, is logged once,
// shown, and looked for again once a second; when it is (back) the lamps
// are sent again, so the box shows every channel as it is.
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
  // when open; 0 with "Com" + n + "が開けません" for the user when not (the
  // tick goes on looking for it), or when ComNo is 0 (no port, no message).
  int OpenSerial();
  void Close();
  bool IsOpen() const { return port_ && port_->IsOpen(); }
  const std::string& Device() const { return device_; }

  int ReadCode() override;
  void WriteLamp(int code) override;
  bool TimeSignalMode() const override { return timeSignal_; }
  void ReadTimeSignal() override;

 private:
  // False while the port is missing or lost; tries to open it again once
  // a second.
  bool Available();
  void Configure(C_Com& port) const;
  void SendLampState();

  AppState& app_;
  platform::SerialSystem& system_;
  std::unique_ptr<C_Com> port_;
  TimeSignalDecoder decoder_;
  bool timeSignal_ = false;
  std::string device_;   // the device it is (was) open on
  bool waiting_ = false;  // missing at start, or lost since: looked for once a second
  double lastAttempt_ = 0;  // steady seconds
};

}  // namespace kavon
