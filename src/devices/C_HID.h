#pragma once
// A USB HID control device: the control box (BoxVendorID and a product ID
// from the settings), asked for one port's value with a three-byte inquiry
// and sent lamp codes as three-byte reports, or a jog controller whose
// input reports become short code strings. Transfer modes: 0 and 1 wait
// for each answer up to the time-out; 2 spreads an inquiry and its answer
// over several calls, so no call waits.
#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/Log.h"
#include "platform/Clock.h"
#include "platform/Hid.h"

namespace kavon {

class C_HID {
 public:
  // pid.codes, the open vendor ID shared by small hardware projects; the
  // box's product ID is the setting USBHIDID.
  static constexpr uint16_t BoxVendorID = 0x1209;
  static constexpr uint16_t ShuttleVendorID = 0x0B33;
  static constexpr uint16_t ShuttleProductID = 0x0030;
  static constexpr int kModeShuttle = 1;
  static constexpr int kModeBox = 64;

  C_HID(platform::HidSystem& system, const platform::Clock& clock, Log& log);

  // Finds and opens a device of kind pMode (1 jog controller, 64 the box
  // with product ID pOpt); pIDOrder picks the n-th match (-1 the first),
  // pHIDFilename a path. 1 when open, else 0 (OpenError says why when a
  // matching device could not be opened).
  int HidInit(int pMode, int pOpt = 0, int pSyncMode = 0, int pIDOrder = -1, const std::string& pHIDFilename = "");
  void HidClose();

  void ReadRetrialCount(int value) { readRetrialCount_ = value < 1 ? 1 : value; }
  int ReadRetrialCount() const { return readRetrialCount_; }
  void TimeoutMS(int value) { timeoutMs_ = value < 50 ? 50 : value; }
  int ReceiveSize() const { return inLen_; }
  const std::string& HIDFilename() const { return path_; }
  int WhileWriteFile() const { return whileWrite_; }
  int WhileReadFile() const { return whileRead_; }

  // Asks port pPort (0..7) for an event (or with pReadStatus its status)
  // and gives the value: 0 for nothing, -1 when the exchange failed; in
  // mode 2 the port's last value (or 0) while the answer is still on its way.
  int VantRead(int pReadStatus = 0, int pGetUp = 0, int pPort = 0);
  // Sends value (1..254) to port pPort; 1 when written.
  int VantWrite(int pValue, int pPort = 0);
  // The jog controller's next code ("B001", "C007", "D010", "A000"...), or "".
  std::string ShuttlePro2Read();

  bool IsOpen() const { return device_ != nullptr; }
  // While on, failed exchanges are not logged one by one: the owner has
  // already said that the box does not answer.
  void Quiet(bool on) { quiet_ = on; }
  // The device went away during a transfer: close it and look for it again.
  bool Lost() const { return lost_; }
  const std::string& OpenError() const { return openError_; }
  int LastPortValue(int port) const { return lastPortValue_.at(static_cast<size_t>(port)); }

 private:
  // One report out (isRead false) or in. wait: up to the time-out;
  // otherwise a read that has not arrived counts as started.
  bool HIDIO(bool isRead, int slot, bool wait);
  bool SendInquiry(int readStatus, int port, bool async);
  // Mode 2: takes the answer if it has come; -2 while it is still awaited.
  int CollectAnswer(int result);
  int Decode(int readStatus, int getUp, int port);
  // Answers that came after their exchange had given up, read without
  // waiting before the next inquiry: a late box never leaves the exchanges
  // behind, and a code in a late answer is still given, one per call.
  std::optional<int> TakeLateAnswer(int readStatus, int getUp, int port);
  void Report(const std::string& text);
  void Abandon();
  // out_ all zero but for its report ID.
  void ClearReport();
  std::string DecodeShuttle();

  platform::HidSystem& system_;
  const platform::Clock& clock_;
  Log& log_;
  std::unique_ptr<platform::HidDevice> device_;
  std::string path_;
  std::string openError_;
  int mode_ = 0;       // pMode
  int syncMode_ = 0;   // pSyncMode
  int outLen_ = 0;
  int inLen_ = 0;
  std::vector<uint8_t> out_;
  std::vector<uint8_t> in_;
  uint8_t reportId_ = 0;  // of the output reports
  bool answerWaiting_ = false;  // in_ holds an answer not decoded yet
  int whileRead_ = 0;
  int whileWrite_ = 0;
  int inquirySent_ = 0;
  int inquiryDone_ = 0;
  int readRequested_ = 0;
  int readTried_ = 0;
  int errorLoop_ = 0;
  int timeoutMs_ = 500;
  int readRetrialCount_ = 6;
  std::array<int, 8> lastPortValue_{255, 255, 255, 255, 255, 255, 255, 255};
  std::array<int, 3> prevReport_{0, -1, -1};  // bytes 0..2 of the last jog report
  std::string lastShuttleCode_;
  std::string lastButtonCode_;
  bool lost_ = false;
  bool quiet_ = false;
  std::deque<int> lateValues_;  // values of late answers still to give
};

}  // namespace kavon
