#include "app/HidControl.h"

#include "app/RecordingControl.h"

namespace kavon {
namespace {

constexpr double kLookAgainSeconds = 1.0;
constexpr int kFailuresBeforeBackOff = 3;
constexpr double kBackOffSeconds = 5.0;
constexpr int kSyncMode = 1;  // each inquiry waits for its answer, up to the time-out

}  // namespace

HidControl::HidControl(AppState& app, platform::HidSystem& system)
    : app_(app), hid_(system, app.clock, app.log) {}

int HidControl::InitHID() {
  Close();
  if (ProductId() == 0) return 0;
  if (hid_.HidInit(C_HID::kModeBox, ProductId(), kSyncMode) == 1) {
    app_.log.WriteLog("HID " + hid_.HIDFilename());
    return 1;
  }
  app_.messages.push_back("tarvelinHID not found");
  std::string why = "tarvelinHID not found";
  if (!hid_.OpenError().empty()) {
    why += " " + hid_.OpenError();
    if (hid_.OpenError().find("Permission denied") != std::string::npos) {
      why += " udev の規則（data/udev/70-kavon-hid.rules）を入れてください";
    }
  }
  app_.log.WriteLog(why, 1);
  // Plugged in later, it is found by the tick.
  missing_ = true;
  lastAttempt_ = app_.clock.SteadySeconds();
  app_.hidProblem = "HID 未接続";
  return 0;
}

void HidControl::Close() {
  // The last lamps (the exit's) go out before the box is let go of, each
  // bounded by the transfer time-out.
  WriteWaitingLamps();
  lamps_.clear();
  hid_.HidClose();
  hid_.Quiet(false);
  missing_ = false;
  failures_ = 0;
  app_.hidProblem.clear();
}

void HidControl::MarkLost() {
  app_.log.WriteLog("HID 切断 " + hid_.HIDFilename(), 1);
  hid_.HidClose();
  hid_.Quiet(false);
  missing_ = true;
  failures_ = 0;
  lastAttempt_ = app_.clock.SteadySeconds();
  app_.hidProblem = "HID 切断";
}

bool HidControl::Available() {
  if (!missing_) return hid_.IsOpen();
  const double now = app_.clock.SteadySeconds();
  if (now - lastAttempt_ < kLookAgainSeconds) return false;
  lastAttempt_ = now;
  if (hid_.HidInit(C_HID::kModeBox, ProductId(), kSyncMode) != 1) return false;
  missing_ = false;
  app_.hidProblem.clear();
  app_.log.WriteLog("HID 接続 " + hid_.HIDFilename());
  SendLampState();
  return true;
}

bool HidControl::BackedOff() const { return failures_ >= kFailuresBeforeBackOff; }

void HidControl::CountFailure() {
  // The first failure is logged by the exchange itself; the rest of a run
  // of them only as its beginning and its end.
  hid_.Quiet(true);
  if (++failures_ == kFailuresBeforeBackOff) {
    app_.log.WriteLog("HID 応答なし（" + std::to_string(static_cast<int>(kBackOffSeconds)) + "秒ごとに確認） " +
                          hid_.HIDFilename(),
                      1);
    app_.hidProblem = "HID 応答なし";
  }
  // From the end of the try: one that took its whole time-out must not
  // have used up the pause already.
  if (BackedOff()) nextPoll_ = app_.clock.SteadySeconds() + kBackOffSeconds;
}

int HidControl::ReadCode() {
  if (!Available()) return 0;
  WriteWaitingLamps();
  if (BackedOff() && app_.clock.SteadySeconds() < nextPoll_) return 0;
  const int value = hid_.VantRead();
  if (hid_.Lost()) {
    MarkLost();
    return 0;
  }
  if (value < 0) {
    CountFailure();
    return 0;
  }
  if (failures_ > 0) {
    hid_.Quiet(false);
    if (BackedOff()) {
      app_.log.WriteLog("HID 応答回復 " + hid_.HIDFilename());
      app_.hidProblem.clear();
      failures_ = 0;
      SendLampState();  // what it missed meanwhile
    }
  }
  failures_ = 0;
  return value;
}

void HidControl::QueueLamp(int code) {
  // The lamp's latest state replaces one that has not gone out yet, and
  // goes out in the order of the latest changes (101..108 at exit in order).
  std::erase_if(lamps_, [code](int queued) { return queued % kLampOff == code % kLampOff; });
  lamps_.push_back(code);
}

void HidControl::WriteLamp(int code) {
  QueueLamp(code);
  WriteWaitingLamps();
}

void HidControl::WriteWaitingLamps() {
  // A box that does not answer gets its lamps when it answers again.
  while (!lamps_.empty() && Available() && !BackedOff()) {
    if (hid_.VantWrite(lamps_.front(), 0) == 1) {
      lamps_.pop_front();
      continue;
    }
    if (hid_.Lost()) {
      MarkLost();
      return;
    }
    CountFailure();  // it stays: written once the box takes reports again
    return;
  }
}

void HidControl::SendLampState() {
  for (const int code : LampStateCodes(app_)) QueueLamp(code);
  WriteWaitingLamps();
}

}  // namespace kavon
