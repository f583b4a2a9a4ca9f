#pragma once
// Wave input from ALSA. The device list is the capture PCMs of the name
// hints plus "default"; each open device gets one reader thread that plays
// the driver's part: it reads S16_LE stereo frames into the queued buffers
// in order and marks each one done. Overruns and suspends are recovered and
// reported; a device that fails for good ends its capture.
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/WaveIn.h"

namespace kavon::platform {

struct AlsaDevice {
  std::string pcm;   // the ALSA name to open ("default", "hw:CARD=PCH,DEV=0", ...)
  std::string name;  // what the user sees and the settings store
};

// The capture PCMs a user would choose from, "default" first, in hint order.
std::vector<AlsaDevice> ListAlsaCaptureDevices();

class AlsaWaveIn : public WaveIn {
 public:
  AlsaWaveIn();
  ~AlsaWaveIn() override;

  int DeviceCount() override;
  bool HasSoundHardware() override;
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
  std::vector<std::string> TakeMessages() override;

  // The ALSA error behind the last failed Open, for messages and tests.
  const std::string& LastOpenDetail() const { return lastOpenDetail_; }
  // Test hook: the read path answers -error once `afterFrames` frames have
  // been read on every stream opened from now on.
  void InjectReadError(int error, uint64_t afterFrames) {
    injectError_ = error;
    injectAfter_ = afterFrames;
  }

 private:
  struct Stream;
  void Reader(Stream& s);
  // Brings a stream back after an overrun (-EPIPE) or a suspend (-ESTRPIPE).
  int Recover(Stream& s, int error);
  void StopReader(Stream& s);
  void Note(const std::string& text);
  Stream* Find(WaveHandle h);    // with mutex_ held
  Stream* Lookup(WaveHandle h);  // takes mutex_ itself

  std::mutex mutex_;  // guards streams_, devices_ and messages_
  std::vector<AlsaDevice> devices_;
  std::map<WaveHandle, std::unique_ptr<Stream>> streams_;
  WaveHandle nextHandle_ = 1;
  std::vector<std::string> messages_;
  std::string lastOpenDetail_;
  int injectError_ = 0;
  uint64_t injectAfter_ = 0;
  std::atomic<bool> realtimeRefusalNoted_{false};
};

}  // namespace kavon::platform
