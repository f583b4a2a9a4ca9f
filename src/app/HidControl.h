#pragma once
// The USB HID control box as the tick sees it: each tick asks port 0 for
// an event code, and lamp codes go to it as reports. A box that is not
// there, or goes away, is looked for again at most once a second (by its
// IDs: the node's name changes on replug). A box that stops answering or
// taking reports is asked only every few seconds, counted from the end of
// the last try, and gets no lamp codes meanwhile: a wedged box costs the
// tick at most one transfer time-out per back-off. Once it is back (found
// again, or answering again) it is sent every channel's lamps.
// Lamp codes wait in a short queue, one place per lamp (the latest state
// of a lamp replaces one not yet written, so a box that takes nothing
// never builds a backlog: at most 16 lamps wait), written in order as the
// box takes them; a code leaves the queue only once it was written.
#include <deque>
#include <string>

#include "app/AppState.h"
#include "devices/C_HID.h"

namespace kavon {

class HidControl : public ControlDevice {
 public:
  HidControl(AppState& app, platform::HidSystem& system);

  // Opens the box of the setting USBHIDID (0: none, nothing said). 1 when
  // open; 0 with "tarvelinHID not found" for the user when not.
  int InitHID();
  void Close();
  bool IsOpen() const { return hid_.IsOpen(); }

  int ReadCode() override;
  void WriteLamp(int code) override;
  // Lamp codes still waiting for the box.
  size_t LampsWaiting() const { return lamps_.size(); }

 private:
  int ProductId() const { return app_.settings.USBHIDID; }
  // False while the box is missing; looks for it again once a second.
  bool Available();
  void MarkLost();
  // An exchange or a lamp write failed; the time is taken after it.
  void CountFailure();
  void SendLampState();
  bool BackedOff() const;
  // Writes what waits, while the box takes it.
  void WriteWaitingLamps();
  void QueueLamp(int code);

  AppState& app_;
  C_HID hid_;
  bool missing_ = false;
  double lastAttempt_ = 0;  // steady seconds
  int failures_ = 0;        // exchanges failed in a row
  double nextPoll_ = 0;     // while failing: the next exchange, steady seconds
  std::deque<int> lamps_;   // lamp codes to write, one per lamp
};

}  // namespace kavon
