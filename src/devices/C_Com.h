#pragma once
// One serial port with its line settings as properties, opened with fixed
// time-outs: receives never wait, so the tick can poll it. "Com" + n names
// the n-th serial device of the machine; a stored device path is the box
// itself: while it is missing the port stays closed, and no other device
// (a GPS, a modem) that now has its number is ever opened in its place.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/SerialPort.h"

namespace kavon {

class C_Com {
 public:
  explicit C_Com(platform::SerialSystem& system) : system_(system) {}

  // Bytes one receive asks for: 1 ... 255.
  void DataSize(long pDataSize);
  long DataSize() const { return dataSize_; }
  void ComPort(const std::string& pComPort) { comPort_ = pComPort; }
  const std::string& ComPort() const { return comPort_; }
  void BaudRate(long pBaudRate) { baudRate_ = pBaudRate; }
  long BaudRate() const { return baudRate_; }
  // 0 none, 1 odd, 2 even, 3 mark, 4 space; the low byte counts.
  void ParityBit(long pParityBit) { parity_ = pParityBit & 0xFF; }
  long ParityBit() const { return parity_; }
  // 0 one, 1 one and a half, 2 two; the low byte counts.
  void StopBit(long pStopBit) { stopBit_ = pStopBit & 0xFF; }
  long StopBit() const { return stopBit_; }
  // The device path of the box ("" for none: the number decides).
  void ComName(const std::string& path) { comName_ = path; }

  // 1 when the port is open with these settings; else 0, the port closed
  // and LastError() saying why.
  long OpenComm();
  void CloseComm();
  void SendText(const std::string& mes);
  // The first pLen bytes of sBytes (never more than it holds).
  void SendDataB(const std::vector<uint8_t>& sBytes, long pLen);
  std::string RecvData();
  // Up to DataSize bytes (and no more than rBytes holds) into rBytes[1...],
  // their count into rBytes[0]; the rest is left as it was.
  void RecvDataB(std::vector<uint8_t>& rBytes);

  bool IsOpen() const { return port_ && port_->IsOpen(); }
  // The device hung up or went away.
  bool Lost() const { return port_ && port_->Lost(); }
  const std::string& Device() const { return device_; }
  const std::string& LastError() const { return lastError_; }

 private:
  // The stored path, or the device "Com" + n stands for without one; "".
  std::string Resolve();

  platform::SerialSystem& system_;
  std::unique_ptr<platform::SerialPort> port_;
  long dataSize_ = 1;
  std::string comPort_;
  long baudRate_ = 38400;
  long parity_ = 0;
  long stopBit_ = 0;
  std::string comName_;
  std::string device_;
  std::string lastError_;
};

// How long a send may wait for a held-up line.
inline constexpr int kSerialWriteTimeoutMs = 5000;

}  // namespace kavon
