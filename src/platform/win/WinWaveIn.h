#pragma once
// Wave input from winmm. Each open device has an event that winmm signals
// when it hands a buffer back, and one thread that waits on it and marks
// our buffers done in the order they were queued, as the engine expects.
// winmm reports neither dropped frames nor a lost device: the first are
// told from the time against the frames that came back, the second from a
// device that keeps its buffers.
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/WaveIn.h"

struct IMMDeviceEnumerator;

namespace kavon::platform {

class WinWaveIn : public WaveIn {
 public:
  WinWaveIn();
  ~WinWaveIn() override;

  int DeviceCount() override;
  std::string DeviceName(int id) override;
  WaveResult Open(WaveHandle* handle, int deviceId, const WaveFormat& format) override;
  WaveResult Prepare(WaveHandle handle, WaveBuffer* buffer) override;
  WaveResult AddBuffer(WaveHandle handle, WaveBuffer* buffer) override;
  WaveResult Start(WaveHandle handle) override;
  WaveResult Reset(WaveHandle handle) override;
  WaveResult Stop(WaveHandle handle) override;
  WaveResult Unprepare(WaveHandle handle, WaveBuffer* buffer) override;
  WaveResult Close(WaveHandle handle) override;
  WaveResult Position(WaveHandle handle, uint64_t* samples) override;
  WaveResult Status(WaveHandle handle) override;
  uint64_t DroppedFrames(WaveHandle handle) override;
  std::string ErrorText(WaveResult code) override;

 private:
  struct Stream;
  Stream* Find(WaveHandle h);
  // Every device's name, the endpoint's friendly name where the system
  // gives one, else winmm's.
  std::vector<std::wstring> ReadNames();
  // The endpoint's friendly name of winmm device id, "" when the system
  // does not say.
  static std::wstring EndpointName(IMMDeviceEnumerator* devices, int id);

  std::mutex mutex_;
  std::vector<std::wstring> names_;  // as of the last DeviceCount
  std::map<WaveHandle, std::unique_ptr<Stream>> streams_;
  WaveHandle nextHandle_ = 1;
};

}  // namespace kavon::platform
