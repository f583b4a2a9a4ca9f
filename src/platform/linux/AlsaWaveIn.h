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
  std::string pcm;   // the ALSA name to open and the settings store ("default", "hw:CARD=PCH,DEV=0", ...)
  std::string name;  // what the user sees: the hint's description
};

// The PCMs that can record, "default" first (always there: the system's
// choice), then in hint order: the sound cards' PCMs, the sound servers'
// plugins, and other PCMs a capture open accepts; never the converters,
// mixers and output-only plugins that hints also list. Each open reads
// ALSA's configuration afresh, so "default" finds a sound server started
// since.
std::vector<AlsaDevice> ListAlsaCaptureDevices();

class AlsaWaveIn : public WaveIn {
 public:
  AlsaWaveIn();
  ~AlsaWaveIn() override;

  int DeviceCount() override;
  bool HasSoundHardware() override;
  std::string DeviceName(int id) override;
  std::string DeviceLabel(int id) override;
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
  // After a read found nothing: until frames can be there.
  void WaitForFrames(Stream& s);
  // A server's plugin: counts what it handed over against the clock.
  static void WatchForGaps(Stream& s);
  // Frames read into the front buffer, handed back once it is full.
  void Deliver(Stream& s, uint32_t frames);
  // Brings a stream back after an overrun (-EPIPE) or a suspend (-ESTRPIPE).
  int Recover(Stream& s, int error);
  // Stops the reader; false when it did not come back in time (it is left
  // to end by itself, and the stream counts as lost).
  bool StopReader(Stream& s);
  // Drops (stops) or closes the device, bounded: a call that does not come
  // back is left to its thread and the stream counts as hung.
  static void StopCall(const std::shared_ptr<Stream>& s, bool close);
  void Note(const std::string& text);
  // Keeps a buffer's pages in memory (within RLIMIT_MEMLOCK); a refusal is
  // said once. With mutex_ held.
  void LockInMemory(const WaveBuffer& buffer);
  Stream* Find(WaveHandle h);    // with mutex_ held
  std::shared_ptr<Stream> Lookup(WaveHandle h);  // takes mutex_ itself

  std::mutex mutex_;  // guards streams_, devices_ and messages_
  std::vector<AlsaDevice> devices_;
  // Shared with the threads of device calls that may outlive a Close.
  std::map<WaveHandle, std::shared_ptr<Stream>> streams_;
  WaveHandle nextHandle_ = 1;
  std::vector<std::string> messages_;
  std::string lastOpenDetail_;
  int injectError_ = 0;
  uint64_t injectAfter_ = 0;
  std::atomic<bool> realtimeRefusalNoted_{false};
  bool memoryLockRefusalNoted_ = false;
};

}  // namespace kavon::platform
