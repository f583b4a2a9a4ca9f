#pragma once
// What the tick and recording control need of a control box (serial port
// or USB HID): a control code when one has arrived, and lamp codes sent
// back. The device modules fill this in; tests use scripted boxes.
namespace kavon {

class ControlDevice {
 public:
  virtual ~ControlDevice() = default;
  // The code that arrived since the last call (1 byte or one report), or 0.
  virtual int ReadCode() = 0;
  virtual void WriteLamp(int code) = 0;
  // A serial box in time-signal mode decodes time records and corrects the
  // clock itself instead of delivering codes.
  virtual bool TimeSignalMode() const { return false; }
  virtual void ReadTimeSignal() {}
};

}  // namespace kavon
