#include "devices/C_Com.h"

#include <algorithm>

#include "common/Text.h"

namespace kavon {

void C_Com::DataSize(long pDataSize) { dataSize_ = std::clamp<long>(pDataSize, 1, 255); }

std::string C_Com::Resolve() {
  if (!comName_.empty()) return system_.Exists(comName_) ? comName_ : std::string();
  if (!StartsWith(ToLower(comPort_), "com")) return {};
  const auto n = ParseInteger(comPort_.substr(3), 1, 255);
  if (!n) return {};
  const auto devices = system_.List();
  if (static_cast<size_t>(*n) > devices.size()) return {};
  return devices[static_cast<size_t>(*n - 1)].path;
}

long C_Com::OpenComm() {
  CloseComm();
  device_ = Resolve();
  if (device_.empty()) {
    lastError_ = comName_.empty() ? comPort_ + ": no such serial port" : comName_ + ": not present";
    return 0;
  }
  port_ = system_.NewPort();
  const platform::SerialSettings settings{static_cast<int>(baudRate_), static_cast<int>(parity_),
                                          static_cast<int>(stopBit_)};
  lastError_ = port_->Open(device_, settings);
  if (lastError_.empty()) return 1;
  // Refused settings are no open port: at a wrong speed line noise would
  // turn into start and stop codes.
  port_.reset();
  return 0;
}

void C_Com::CloseComm() {
  if (port_) port_->Close();
  port_.reset();
}

void C_Com::SendText(const std::string& mes) {
  if (mes.empty() || !IsOpen()) return;
  port_->Write(reinterpret_cast<const uint8_t*>(mes.data()), mes.size(), kSerialWriteTimeoutMs);
}

void C_Com::SendDataB(const std::vector<uint8_t>& sBytes, long pLen) {
  if (!IsOpen() || pLen <= 0) return;
  const size_t n = std::min(static_cast<size_t>(pLen), sBytes.size());
  if (n > 0) port_->Write(sBytes.data(), n, kSerialWriteTimeoutMs);
}

std::string C_Com::RecvData() {
  if (!IsOpen()) return {};
  const auto bytes = port_->Read(static_cast<size_t>(dataSize_));
  return std::string(bytes.begin(), bytes.end());
}

void C_Com::RecvDataB(std::vector<uint8_t>& rBytes) {
  if (rBytes.empty()) return;
  rBytes[0] = 0;
  if (!IsOpen()) return;
  const size_t room = std::min(static_cast<size_t>(dataSize_), rBytes.size() - 1);
  const auto bytes = port_->Read(room);
  std::copy(bytes.begin(), bytes.end(), rBytes.begin() + 1);
  rBytes[0] = static_cast<uint8_t>(bytes.size());
}

}  // namespace kavon
