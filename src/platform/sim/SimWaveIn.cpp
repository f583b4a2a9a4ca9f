#include "platform/sim/SimWaveIn.h"

#include <chrono>
#include <cmath>
#include <fstream>
#include <numbers>
#include <numeric>
#include <sstream>
#include <utility>

#include "platform/WaveErrors.h"
#include "platform/Utf8Path.h"

namespace kavon::platform {
namespace {

double Amplitude(double db) { return db <= -110 ? 0.0 : 32767.0 * std::pow(10.0, db / 20.0); }

int16_t Clip(double v) {
  if (v > 32767) return 32767;
  if (v < -32768) return -32768;
  return static_cast<int16_t>(std::lround(v));
}

// Deterministic noise: the same frame number always gives the same sample.
double NoiseAt(uint64_t n) {
  uint64_t x = n * 0x9E3779B97F4A7C15ull;
  x ^= x >> 31;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 29;
  return static_cast<double>(x >> 11) / static_cast<double>(1ull << 53) * 2.0 - 1.0;
}

// Left/right frames of a 16-bit PCM WAV file (mono is doubled).
std::vector<int16_t> LoadWavFrames(const std::string& path) {
  std::ifstream in(U8Path(path), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  const std::string b = s.str();
  auto u32 = [&](size_t o) {
    return static_cast<uint32_t>(static_cast<unsigned char>(b[o])) |
           static_cast<uint32_t>(static_cast<unsigned char>(b[o + 1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[o + 2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[o + 3])) << 24;
  };
  std::vector<int16_t> out;
  if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0) return out;
  int channels = 2;
  size_t o = 12;
  while (o + 8 <= b.size()) {
    const std::string id = b.substr(o, 4);
    const uint64_t size = u32(o + 4);
    if (id == "fmt " && o + 12 <= b.size()) channels = static_cast<unsigned char>(b[o + 10]);
    if (id == "data") {
      const size_t end = static_cast<size_t>(std::min<uint64_t>(b.size(), o + 8 + size));
      for (size_t p = o + 8; p + 2 * static_cast<size_t>(channels) <= end; p += 2 * static_cast<size_t>(channels)) {
        const auto left = static_cast<int16_t>(static_cast<unsigned char>(b[p]) | static_cast<unsigned char>(b[p + 1]) << 8);
        out.push_back(left);
        if (channels >= 2) {
          out.push_back(static_cast<int16_t>(static_cast<unsigned char>(b[p + 2]) | static_cast<unsigned char>(b[p + 3]) << 8));
        } else {
          out.push_back(left);
        }
      }
      break;
    }
    o += 8 + size + (size & 1);
  }
  return out;
}

}  // namespace

struct SimWaveIn::Device {
  SimDeviceSpec def;
  std::vector<int16_t> wav;  // loaded on first use
  bool wavLoaded = false;
  bool lost = false;
  bool frozen = false;
  uint64_t lostFrames = 0;
  std::vector<int16_t> period;  // one period of a tone, at periodRate
  uint32_t periodRate = 0;

  void Frame(uint64_t n, uint32_t rate, int16_t& left, int16_t& right) {
    const SimSource& src = def.source;
    left = right = 0;
    switch (src.kind) {
      case SimSource::Kind::Silence: return;
      case SimSource::Kind::Tone: left = right = ToneFrame(n, rate); return;
      case SimSource::Kind::Noise: left = right = Clip(NoiseAt(n) * Amplitude(src.levelDb)); return;
      case SimSource::Kind::Script: ScriptAt(n, rate, left, right); return;
      case SimSource::Kind::WavFile:
        if (!wavLoaded) {
          wav = LoadWavFrames(src.wavPath);
          wavLoaded = true;
        }
        if (2 * n + 1 < wav.size()) {
          left = wav[2 * n];
          right = wav[2 * n + 1];
        }
        return;
    }
  }

  // A tone of whole hertz repeats every rate / gcd(rate, hz) frames: one
  // period is computed once per rate and then read, so that eight simulated
  // channels cost the machine next to nothing.
  int16_t ToneFrame(uint64_t n, uint32_t rate) {
    const double hz = def.source.frequency;
    const auto whole = static_cast<uint64_t>(hz);
    if (hz <= 0 || static_cast<double>(whole) != hz || rate == 0) return ToneAt(n, rate, hz, def.source.levelDb);
    if (periodRate != rate) {
      const uint64_t frames = rate / std::gcd(uint64_t{rate}, whole);
      period.resize(static_cast<size_t>(frames));
      for (uint64_t k = 0; k < frames; ++k) period[static_cast<size_t>(k)] = ToneAt(k, rate, hz, def.source.levelDb);
      periodRate = rate;
    }
    return period[static_cast<size_t>(n % period.size())];
  }

  static int16_t ToneAt(uint64_t n, uint32_t rate, double hz, double db) {
    const double phase = std::fmod(static_cast<double>(n) * hz / rate, 1.0);
    return Clip(std::sin(2 * std::numbers::pi * phase) * Amplitude(db));
  }

  void ScriptAt(uint64_t n, uint32_t rate, int16_t& left, int16_t& right) const {
    uint64_t begin = 0;
    for (const auto& seg : def.source.script) {
      const auto frames = static_cast<uint64_t>(std::llround(seg.seconds * rate));
      if (n < begin + frames) {
        if (seg.kind == SimSegment::Kind::Tone) left = right = ToneAt(n - begin, rate, seg.frequency, seg.levelDb);
        if (seg.kind == SimSegment::Kind::Noise) left = right = Clip(NoiseAt(n) * Amplitude(seg.levelDb));
        return;
      }
      begin += frames;
    }
  }
};

struct SimWaveIn::Stream {
  int deviceId = 0;
  WaveFormat format;
  bool started = false;
  double startTime = 0;  // steady seconds of Start
  uint64_t generated = 0;
  uint64_t delivered = 0;
  uint32_t offset = 0;  // frames already in the front buffer
  uint64_t dropped = 0;  // frames that found no buffer queued
  std::deque<WaveBuffer*> queue;
};

SimWaveIn::SimWaveIn(const Clock& clock, std::vector<SimDeviceSpec> devices) : clock_(clock) {
  for (auto& d : devices) {
    auto dev = std::make_unique<Device>();
    dev->def = std::move(d);
    devices_.push_back(std::move(dev));
  }
}

SimWaveIn::~SimWaveIn() { StopRealtime(); }

std::vector<SimDeviceSpec> SimWaveIn::DemoDevices() {
  return {
      {"Sim Tone 1 kHz -20 dB", SimSource::Tone(1000, -20)},
      {"Sim Tone 440 Hz -6 dB", SimSource::Tone(440, -6)},
      {"Sim Silence", SimSource::Silence()},
      {"Sim Noise -30 dB", SimSource::Noise(-30)},
      {"Sim Talk and Pauses",
       SimSource::Script({{2, SimSegment::Kind::Silence}, {5, SimSegment::Kind::Tone, 440, -20},
                          {4, SimSegment::Kind::Silence}, {600, SimSegment::Kind::Tone, 880, -20}})},
  };
}

int SimWaveIn::DeviceCount() {
  std::lock_guard lock(mutex_);
  return static_cast<int>(devices_.size());
}

std::string SimWaveIn::DeviceName(int id) {
  std::lock_guard lock(mutex_);
  if (id < 0 || id >= static_cast<int>(devices_.size())) return {};
  return devices_[static_cast<size_t>(id)]->def.name;
}

SimWaveIn::Stream* SimWaveIn::Find(WaveHandle h) {
  auto it = streams_.find(h);
  return it == streams_.end() ? nullptr : it->second.get();
}

WaveResult SimWaveIn::Open(WaveHandle* handle, int deviceId, const WaveFormat& format) {
  std::lock_guard lock(mutex_);
  if (!handle) return kWaveInvalidParam;
  if (failOpen_ != kWaveOk) return std::exchange(failOpen_, kWaveOk);
  if (deviceId == kWaveMapper) deviceId = 0;
  if (deviceId < 0 || deviceId >= static_cast<int>(devices_.size())) return kWaveBadDeviceId;
  if (devices_[static_cast<size_t>(deviceId)]->lost) return kWaveBadDeviceId;
  if (format.formatTag != 1 || format.channels != 2 || format.bitsPerSample != 16 || format.blockAlign != 4 ||
      format.samplesPerSec == 0) {
    return kWaveBadFormat;
  }
  auto s = std::make_unique<Stream>();
  s->deviceId = deviceId;
  s->format = format;
  *handle = nextHandle_++;
  streams_[*handle] = std::move(s);
  return kWaveOk;
}

WaveResult SimWaveIn::Prepare(WaveHandle handle, WaveBuffer* buffer) {
  std::lock_guard lock(mutex_);
  if (!Find(handle)) return kWaveInvalidHandle;
  if (!buffer) return kWaveInvalidParam;
  buffer->MarkPrepared();
  return kWaveOk;
}

WaveResult SimWaveIn::AddBuffer(WaveHandle handle, WaveBuffer* buffer) {
  std::lock_guard lock(mutex_);
  Stream* s = Find(handle);
  if (!s) return kWaveInvalidHandle;
  if (!buffer || !buffer->Usable()) return kWaveInvalidParam;
  if ((buffer->flags.load() & kBufferPrepared) == 0) return kWaveUnprepared;
  if (failAddAfter_ == 0) return kWaveNoMemory;
  if (failAddAfter_ > 0) --failAddAfter_;
  buffer->MarkQueued();
  s->queue.push_back(buffer);
  return kWaveOk;
}

WaveResult SimWaveIn::Start(WaveHandle handle) {
  std::lock_guard lock(mutex_);
  Stream* s = Find(handle);
  if (!s) return kWaveInvalidHandle;
  if (failStart_ != kWaveOk) return std::exchange(failStart_, kWaveOk);
  s->started = true;
  s->startTime = clock_.SteadySeconds();
  return kWaveOk;
}

WaveResult SimWaveIn::Reset(WaveHandle handle) {
  std::lock_guard lock(mutex_);
  Stream* s = Find(handle);
  if (!s) return kWaveInvalidHandle;
  s->started = false;
  ReturnQueuedBuffers(s->queue, s->offset);
  s->offset = 0;
  return kWaveOk;
}

WaveResult SimWaveIn::Stop(WaveHandle handle) {
  std::lock_guard lock(mutex_);
  Stream* s = Find(handle);
  if (!s) return kWaveInvalidHandle;
  s->started = false;
  return kWaveOk;
}

WaveResult SimWaveIn::Unprepare(WaveHandle handle, WaveBuffer* buffer) {
  std::lock_guard lock(mutex_);
  if (!Find(handle)) return kWaveInvalidHandle;
  return UnprepareBuffer(buffer);
}

WaveResult SimWaveIn::Close(WaveHandle handle) {
  std::lock_guard lock(mutex_);
  Stream* s = Find(handle);
  if (!s) return kWaveInvalidHandle;
  if (!s->queue.empty()) return kWaveStillPlaying;
  streams_.erase(handle);
  return kWaveOk;
}

WaveResult SimWaveIn::Position(WaveHandle handle, uint64_t* samples) {
  std::lock_guard lock(mutex_);
  Stream* s = Find(handle);
  if (!s) return kWaveInvalidHandle;
  if (!samples) return kWaveInvalidParam;
  *samples = s->delivered;
  return kWaveOk;
}

WaveResult SimWaveIn::Status(WaveHandle handle) {
  std::lock_guard lock(mutex_);
  Stream* s = Find(handle);
  if (!s) return kWaveInvalidHandle;
  return devices_[static_cast<size_t>(s->deviceId)]->lost ? kWaveDeviceLost : kWaveOk;
}

uint64_t SimWaveIn::DroppedFrames(WaveHandle handle) {
  std::lock_guard lock(mutex_);
  Stream* s = Find(handle);
  return s ? s->dropped : 0;
}

std::string SimWaveIn::ErrorText(WaveResult code) { return StandardWaveErrorText(code); }

void SimWaveIn::FillLocked(Stream& s, uint64_t upTo) {
  Device& dev = *devices_[static_cast<size_t>(s.deviceId)];
  const uint32_t rate = s.format.samplesPerSec;
  while (s.generated < upTo) {
    if (s.queue.empty()) {
      dev.lostFrames += upTo - s.generated;
      s.dropped += upTo - s.generated;
      s.generated = upTo;
      return;
    }
    WaveBuffer* b = s.queue.front();
    const uint32_t capacity = b->bufferLength / 4;
    const uint64_t n = std::min<uint64_t>(capacity - s.offset, upTo - s.generated);
    for (uint64_t k = 0; k < n; ++k) {
      const size_t at = 2 * (s.offset + k);
      dev.Frame(s.generated + k, rate, b->samples[at], b->samples[at + 1]);
    }
    s.offset += static_cast<uint32_t>(n);
    s.generated += n;
    s.delivered += n;
    if (s.offset == capacity) {
      b->Complete(capacity * 4);
      s.queue.pop_front();
      s.offset = 0;
    }
  }
}

void SimWaveIn::Pump() {
  const double steadyNow = clock_.SteadySeconds();
  std::lock_guard lock(mutex_);
  for (auto& [handle, s] : streams_) {
    const Device& dev = *devices_[static_cast<size_t>(s->deviceId)];
    if (!s->started || dev.lost) continue;
    if (dev.frozen) {
      // Time passes without a frame: the stream resumes from now.
      s->startTime = steadyNow - static_cast<double>(s->generated) / s->format.samplesPerSec;
      continue;
    }
    const double elapsed = steadyNow - s->startTime;
    if (elapsed <= 0) continue;
    FillLocked(*s, static_cast<uint64_t>(elapsed * s->format.samplesPerSec + 1e-6));
  }
}

void SimWaveIn::StartRealtime() {
  if (running_.exchange(true)) return;
  thread_ = std::thread([this] {
    while (running_.load()) {
      Pump();
      // As often as a sound card's driver wakes its reader.
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
}

void SimWaveIn::StopRealtime() {
  if (!running_.exchange(false)) return;
  if (thread_.joinable()) thread_.join();
}

void SimWaveIn::LoseDevice(int deviceId, bool lost) {
  std::lock_guard lock(mutex_);
  if (deviceId >= 0 && deviceId < static_cast<int>(devices_.size())) devices_[static_cast<size_t>(deviceId)]->lost = lost;
}

void SimWaveIn::FreezeDevice(int deviceId, bool frozen) {
  std::lock_guard lock(mutex_);
  if (deviceId >= 0 && deviceId < static_cast<int>(devices_.size())) devices_[static_cast<size_t>(deviceId)]->frozen = frozen;
}

uint64_t SimWaveIn::LostFrames(int deviceId) {
  std::lock_guard lock(mutex_);
  if (deviceId < 0 || deviceId >= static_cast<int>(devices_.size())) return 0;
  return devices_[static_cast<size_t>(deviceId)]->lostFrames;
}

void SimWaveIn::ProcessDied() {
  std::lock_guard lock(mutex_);
  streams_.clear();
}

int SimWaveIn::OpenHandles() {
  std::lock_guard lock(mutex_);
  return static_cast<int>(streams_.size());
}

}  // namespace kavon::platform
