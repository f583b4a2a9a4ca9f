#pragma once
// Wave input, shaped like the device calls the capture engine makes: open a
// device in a fixed PCM format, queue buffers, start, and later reset, stop,
// unprepare and close. The device side fills queued buffers in order and
// marks each one done; the engine polls the done flag. Every call answers a
// result code (kWaveOk or an error of the table below), never throws.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace kavon::platform {

// The 16-byte PCM wave format record.
struct WaveFormat {
  uint16_t formatTag = 1;
  uint16_t channels = 2;
  uint32_t samplesPerSec = 44100;
  uint32_t avgBytesPerSec = 176400;
  uint16_t blockAlign = 4;
  uint16_t bitsPerSample = 16;
};
static_assert(sizeof(WaveFormat) == 16);

// Result codes of wave-input calls.
using WaveResult = int;
inline constexpr WaveResult kWaveOk = 0;
inline constexpr WaveResult kWaveError = 1;          // unspecified error
inline constexpr WaveResult kWaveBadDeviceId = 2;    // no device of that number
inline constexpr WaveResult kWaveAllocated = 4;      // device busy
inline constexpr WaveResult kWaveInvalidHandle = 5;
inline constexpr WaveResult kWaveNoDriver = 6;
inline constexpr WaveResult kWaveNoMemory = 7;
inline constexpr WaveResult kWaveInvalidParam = 11;
inline constexpr WaveResult kWaveBadFormat = 32;     // format not supported
inline constexpr WaveResult kWaveStillPlaying = 33;  // buffer still queued
inline constexpr WaveResult kWaveUnprepared = 34;    // buffer not prepared
inline constexpr WaveResult kWaveDeviceLost = 40;    // device vanished or failed for good

// Opening device kWaveMapper records from the system's default input.
inline constexpr int kWaveMapper = -1;

// Flag bits of WaveBuffer::flags.
inline constexpr uint32_t kBufferDone = 1;
inline constexpr uint32_t kBufferPrepared = 2;
inline constexpr uint32_t kBufferQueued = 16;

// A capture buffer. While queued its memory belongs to the device side; the
// device writes bytesRecorded, then sets kBufferDone with release order, and
// the engine reads the flag with acquire order before it touches the data.
struct WaveBuffer {
  std::vector<int16_t> samples;  // interleaved left, right
  uint32_t bufferLength = 0;     // bytes
  std::atomic<uint32_t> bytesRecorded{0};
  std::atomic<uint32_t> flags{0};

  bool Done() const { return (flags.load(std::memory_order_acquire) & kBufferDone) != 0; }

  // The device side's steps, shared by every back end.
  bool Usable() const { return bufferLength >= 4 && samples.size() * 2 >= bufferLength; }
  void MarkPrepared() { flags.fetch_or(kBufferPrepared); }
  void MarkQueued() {
    bytesRecorded.store(0, std::memory_order_relaxed);
    flags.store(kBufferPrepared | kBufferQueued, std::memory_order_release);
  }
  // Hands the buffer back holding `bytes`; the release pairs with Done().
  void Complete(uint32_t bytes) {
    bytesRecorded.store(bytes, std::memory_order_relaxed);
    flags.store(kBufferPrepared | kBufferDone, std::memory_order_release);
  }
};

// Unprepares a buffer that is not queued.
inline WaveResult UnprepareBuffer(WaveBuffer* buffer) {
  if (!buffer) return kWaveInvalidParam;
  if (buffer->flags.load() & kBufferQueued) return kWaveStillPlaying;
  buffer->flags.fetch_and(~kBufferPrepared);
  return 0;
}

// On reset every queued buffer comes back: the first with the frames it
// holds so far, the others empty.
template <typename Queue>
void ReturnQueuedBuffers(Queue& queue, uint32_t framesInFront) {
  for (size_t i = 0; i < queue.size(); ++i) queue[i]->Complete(i == 0 ? framesInFront * 4u : 0u);
  queue.clear();
}

using WaveHandle = int;  // 0 is never a valid handle

class WaveIn {
 public:
  virtual ~WaveIn() = default;

  virtual int DeviceCount() = 0;
  // Whether the machine has sound hardware at all (a list of software
  // devices alone does not record anything); true when it cannot tell.
  virtual bool HasSoundHardware() { return true; }
  // Name of device id (0 .. count-1), the key the settings store; empty
  // for any other id. It stays the same whatever state the device is in.
  virtual std::string DeviceName(int id) = 0;
  // What a person sees for the device (a description, where the system has
  // one); its name where there is nothing better.
  virtual std::string DeviceLabel(int id) { return DeviceName(id); }

  virtual WaveResult Open(WaveHandle* handle, int deviceId, const WaveFormat& format) = 0;
  virtual WaveResult Prepare(WaveHandle handle, WaveBuffer* buffer) = 0;
  // Queues a prepared buffer: clears its done flag and bytesRecorded.
  virtual WaveResult AddBuffer(WaveHandle handle, WaveBuffer* buffer) = 0;
  virtual WaveResult Start(WaveHandle handle) = 0;
  // Stops capture and returns every queued buffer marked done.
  virtual WaveResult Reset(WaveHandle handle) = 0;
  virtual WaveResult Stop(WaveHandle handle) = 0;
  virtual WaveResult Unprepare(WaveHandle handle, WaveBuffer* buffer) = 0;
  virtual WaveResult Close(WaveHandle handle) = 0;
  // Samples (frames) captured since Start.
  virtual WaveResult Position(WaveHandle handle, uint64_t* samples) = 0;
  // kWaveOk while the device delivers; kWaveDeviceLost once it has failed
  // for good (no further buffer will come back).
  virtual WaveResult Status(WaveHandle handle) = 0;
  // Frames the device dropped since Start because no buffer was ready for
  // them (overruns, a stalled process); 0 when it cannot tell.
  virtual uint64_t DroppedFrames(WaveHandle /*handle*/) { return 0; }
  // Text for a result code, in the user's language.
  virtual std::string ErrorText(WaveResult code) = 0;
  // What the device side noticed since the last call (overruns recovered,
  // a device lost), for the log; taken on the tick's thread.
  virtual std::vector<std::string> TakeMessages() { return {}; }
};

}  // namespace kavon::platform
