#include "platform/linux/AlsaWaveIn.h"

#include <alsa/asoundlib.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <condition_variable>
#include <set>
#include <utility>

#include "platform/WaveErrors.h"

namespace kavon::platform {
namespace {

constexpr unsigned kBufferUs = 2000000;  // up to two seconds in the driver
constexpr unsigned kPeriodUs = 50000;   // woken every 50 ms
constexpr int kWaitMs = 100;            // the reader looks at its stop flag this often
constexpr snd_pcm_uframes_t kMaxRead = 4096;
// Real-time priority of a reader: above every ordinary process, below the
// kernel's interrupt threads (50).
constexpr int kReaderPriority = 20;

std::string HintValue(void* hint, const char* id) {
  char* v = snd_device_name_get_hint(hint, id);
  if (!v) return {};
  std::string s = v;
  free(v);
  return s;
}

// "HDA Intel PCH, ALC3246 Analog\nFront microphone" -> one line.
std::string OneLine(std::string s) {
  for (size_t p = s.find('\n'); p != std::string::npos; p = s.find('\n', p)) s.replace(p, 1, ", ");
  return s;
}

WaveResult OpenResult(int err) {
  switch (-err) {
    case ENOENT:
    case ENODEV:
    case ENXIO: return kWaveBadDeviceId;
    case EBUSY: return kWaveAllocated;
    case ENOMEM: return kWaveNoMemory;
    default: return kWaveError;
  }
}

// Asks for SCHED_FIFO for the calling reader thread, at kReaderPriority or
// the RLIMIT_RTPRIO the system grants if that is lower (a service's
// LimitRTPRIO, limits.conf's rtprio). Empty when granted, else why not.
std::string RaiseToRealtime() {
  rlimit limit{};
  int priority = kReaderPriority;
  if (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur > 0) {
    priority = std::min<int>(priority, static_cast<int>(limit.rlim_cur));
  }
  sched_param param{};
  param.sched_priority = priority;
  const int err = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
  if (err == 0) return {};
  return std::string(std::strerror(err)) + ", RLIMIT_RTPRIO " +
         (limit.rlim_cur == RLIM_INFINITY ? "unlimited" : std::to_string(limit.rlim_cur));
}

}  // namespace

std::vector<AlsaDevice> ListAlsaCaptureDevices() {
  std::vector<AlsaDevice> out;
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) == 0 && hints) {
    for (void** h = hints; *h; ++h) {
      const std::string pcm = HintValue(*h, "NAME");
      const std::string io = HintValue(*h, "IOID");
      if (pcm.empty() || pcm == "null" || io == "Output") continue;
      const std::string desc = OneLine(HintValue(*h, "DESC"));
      out.push_back({pcm, desc.empty() ? pcm : desc});
    }
    snd_device_name_free_hint(hints);
  }
  bool hasDefault = false;
  for (const auto& d : out) hasDefault |= d.pcm == "default";
  if (!hasDefault) out.insert(out.begin(), AlsaDevice{"default", "default"});
  // Two PCMs with the same description would look alike in a list and in
  // the settings: those carry their ALSA name too.
  std::multiset<std::string> names;
  for (const auto& d : out) names.insert(d.name);
  for (auto& d : out) {
    if (names.count(d.name) > 1) d.name += " [" + d.pcm + "]";
  }
  return out;
}

struct AlsaWaveIn::Stream {
  snd_pcm_t* pcm = nullptr;
  std::string pcmName;
  WaveFormat format;
  std::mutex m;  // guards queue and offset against the reader
  std::condition_variable queued;
  std::deque<WaveBuffer*> queue;
  uint32_t offset = 0;  // frames already in the front buffer
  std::atomic<uint64_t> delivered{0};
  std::atomic<bool> running{false};
  std::atomic<bool> lost{false};
  std::thread thread;
  uint64_t readFrames = 0;
  std::atomic<uint64_t> lostFrames{0};
  std::chrono::steady_clock::time_point started;
  int injectError = 0;
  uint64_t injectAfter = 0;
};

// libasound prints its own diagnostics on stderr ("ALSA lib pcm.c:... Unknown
// PCM default") for every failed open; kavon reports each failure itself,
// with the reason, in its log.
extern "C" void QuietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

AlsaWaveIn::AlsaWaveIn() {
  snd_lib_error_set_handler(QuietAlsaErrors);
  devices_ = ListAlsaCaptureDevices();
}

AlsaWaveIn::~AlsaWaveIn() {
  for (auto& [h, s] : streams_) {
    StopReader(*s);
    snd_pcm_close(s->pcm);
  }
}

void AlsaWaveIn::Note(const std::string& text) {
  std::lock_guard lock(mutex_);
  messages_.push_back(text);
}

std::vector<std::string> AlsaWaveIn::TakeMessages() {
  std::lock_guard lock(mutex_);
  return std::exchange(messages_, {});
}

int AlsaWaveIn::DeviceCount() {
  // Listed anew each time, so that a device plugged in since is found.
  auto fresh = ListAlsaCaptureDevices();
  std::lock_guard lock(mutex_);
  devices_ = std::move(fresh);
  return static_cast<int>(devices_.size());
}

bool AlsaWaveIn::HasSoundHardware() {
  // A sound server (PulseAudio, PipeWire) without a card of its own still
  // has none to record from.
  int card = -1;
  return snd_card_next(&card) == 0 && card >= 0;
}

std::string AlsaWaveIn::DeviceName(int id) {
  std::lock_guard lock(mutex_);
  if (id < 0 || id >= static_cast<int>(devices_.size())) return {};
  return devices_[static_cast<size_t>(id)].name;
}

AlsaWaveIn::Stream* AlsaWaveIn::Lookup(WaveHandle h) {
  std::lock_guard lock(mutex_);
  return Find(h);
}

AlsaWaveIn::Stream* AlsaWaveIn::Find(WaveHandle h) {
  auto it = streams_.find(h);
  return it == streams_.end() ? nullptr : it->second.get();
}

WaveResult AlsaWaveIn::Open(WaveHandle* handle, int deviceId, const WaveFormat& format) {
  if (!handle) return kWaveInvalidParam;
  if (format.formatTag != 1 || format.channels != 2 || format.bitsPerSample != 16 || format.blockAlign != 4) {
    return kWaveBadFormat;
  }
  std::string name;
  {
    std::lock_guard lock(mutex_);
    if (deviceId == kWaveMapper) {
      name = "default";
    } else if (deviceId >= 0 && deviceId < static_cast<int>(devices_.size())) {
      name = devices_[static_cast<size_t>(deviceId)].pcm;
    } else {
      return kWaveBadDeviceId;
    }
  }
  lastOpenDetail_.clear();
  snd_pcm_t* pcm = nullptr;
  int err = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
  if (err < 0) {
    lastOpenDetail_ = name + ": " + snd_strerror(err);
    return OpenResult(err);
  }
  snd_pcm_hw_params_t* hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  unsigned rate = format.samplesPerSec;
  unsigned bufferUs = kBufferUs, periodUs = kPeriodUs;
  const bool raw = name.rfind("hw:", 0) == 0;
  // A hardware PCM records at the rate asked or not at all; "default" and
  // "plug" devices convert, as their users chose.
  const bool ok = snd_pcm_hw_params_any(pcm, hw) >= 0 &&
                  snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) >= 0 &&
                  snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE) >= 0 &&
                  snd_pcm_hw_params_set_channels(pcm, hw, 2) >= 0 &&
                  (!raw || snd_pcm_hw_params_set_rate_resample(pcm, hw, 0) >= 0) &&
                  snd_pcm_hw_params_set_rate(pcm, hw, rate, 0) >= 0;
  if (!ok) {
    lastOpenDetail_ = name + ": S16_LE 2ch " + std::to_string(rate) + " Hz not supported";
    snd_pcm_close(pcm);
    return kWaveBadFormat;
  }
  snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferUs, nullptr);
  snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodUs, nullptr);
  if ((err = snd_pcm_hw_params(pcm, hw)) < 0 || (err = snd_pcm_prepare(pcm)) < 0) {
    lastOpenDetail_ = name + ": " + snd_strerror(err);
    snd_pcm_close(pcm);
    return kWaveBadFormat;
  }
  auto s = std::make_unique<Stream>();
  s->pcm = pcm;
  s->pcmName = name;
  s->format = format;
  s->injectError = injectError_;
  s->injectAfter = injectAfter_;
  std::lock_guard lock(mutex_);
  *handle = nextHandle_++;
  streams_[*handle] = std::move(s);
  return kWaveOk;
}

WaveResult AlsaWaveIn::Prepare(WaveHandle handle, WaveBuffer* buffer) {
  std::lock_guard lock(mutex_);
  if (!Find(handle)) return kWaveInvalidHandle;
  if (!buffer) return kWaveInvalidParam;
  buffer->MarkPrepared();
  return kWaveOk;
}

WaveResult AlsaWaveIn::AddBuffer(WaveHandle handle, WaveBuffer* buffer) {
  Stream* s = Lookup(handle);
  if (!s) return kWaveInvalidHandle;
  if (!buffer || !buffer->Usable()) return kWaveInvalidParam;
  if ((buffer->flags.load() & kBufferPrepared) == 0) return kWaveUnprepared;
  {
    std::lock_guard lock(s->m);
    buffer->MarkQueued();
    s->queue.push_back(buffer);
  }
  s->queued.notify_one();
  return kWaveOk;
}

WaveResult AlsaWaveIn::Start(WaveHandle handle) {
  std::lock_guard lock(mutex_);
  Stream* s = Find(handle);
  if (!s) return kWaveInvalidHandle;
  if (s->running) return kWaveOk;
  const int err = snd_pcm_start(s->pcm);
  if (err < 0) {
    lastOpenDetail_ = s->pcmName + ": " + snd_strerror(err);
    return kWaveError;
  }
  s->started = std::chrono::steady_clock::now();
  s->running = true;
  s->thread = std::thread([this, s] { Reader(*s); });
  return kWaveOk;
}

void AlsaWaveIn::StopReader(Stream& s) {
  s.running = false;
  s.queued.notify_all();
  if (s.thread.joinable()) s.thread.join();
}

int AlsaWaveIn::Recover(Stream& s, int error) {
  // As snd_pcm_recover does: a suspended stream is resumed where it stood
  // and runs on by itself; only a stream that had to be prepared again needs
  // starting. Starting a running stream fails and would end the recording.
  int err = error;
  if (error == -ESTRPIPE) {
    err = snd_pcm_resume(s.pcm);
    for (int tries = 0; err == -EAGAIN && tries < 50 && s.running; ++tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kWaitMs));
      err = snd_pcm_resume(s.pcm);
    }
  }
  if (err < 0) err = snd_pcm_prepare(s.pcm);
  if (err >= 0 && snd_pcm_state(s.pcm) == SND_PCM_STATE_PREPARED) err = snd_pcm_start(s.pcm);
  return err;
}

void AlsaWaveIn::Reader(Stream& s) {
  // The reader is all that stands between the driver's buffer and an
  // overrun: on a busy machine it must run when the device has audio. Where
  // real-time scheduling is refused it runs as an ordinary thread, said once.
  if (const std::string refused = RaiseToRealtime(); !refused.empty() && !realtimeRefusalNoted_.exchange(true)) {
    Note("録音スレッドはリアルタイム優先度なしで動作 " + refused);
  }
  const uint32_t rate = s.format.samplesPerSec;
  while (s.running) {
    int16_t* target = nullptr;
    snd_pcm_uframes_t want = 0;
    {
      std::unique_lock lock(s.m);
      // No buffer to fill: wait for one rather than spin; the device
      // overruns meanwhile and the recovery below reports what was lost.
      if (s.queue.empty()) {
        s.queued.wait_for(lock, std::chrono::milliseconds(kWaitMs));
        continue;
      }
      WaveBuffer* b = s.queue.front();
      const uint32_t capacity = b->bufferLength / 4;
      target = b->samples.data() + 2 * s.offset;
      want = std::min<snd_pcm_uframes_t>(capacity - s.offset, kMaxRead);
    }
    snd_pcm_sframes_t n = 0;
    if (s.injectError != 0 && s.readFrames >= s.injectAfter) {
      n = -s.injectError;
      // An overrun or a suspend happens once; a lost device stays lost.
      if (n == -EPIPE || n == -ESTRPIPE) s.injectError = 0;
    } else {
      if (s.injectError != 0) want = std::min<snd_pcm_uframes_t>(want, s.injectAfter - s.readFrames);
      n = snd_pcm_readi(s.pcm, target, want);
    }
    if (n == -EAGAIN) {
      snd_pcm_wait(s.pcm, kWaitMs);
      continue;
    }
    if (n == -EPIPE || n == -ESTRPIPE) {
      const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - s.started).count();
      const auto expected = static_cast<uint64_t>(elapsed * rate);
      const uint64_t lost = s.lostFrames.load();
      const uint64_t lostNow = expected > s.readFrames + lost ? expected - s.readFrames - lost : 0;
      s.lostFrames += lostNow;
      const int err = Recover(s, static_cast<int>(n));
      if (err >= 0) {
        Note(std::string(n == -EPIPE ? "録音デバイスのオーバーランから回復 " : "録音デバイスの休止から回復 ") + s.pcmName +
             " 失われたフレーム " + std::to_string(lostNow));
        continue;
      }
      n = err;
    }
    if (n < 0) {
      // Gone or broken for good: the engine sees it through Status.
      Note("録音デバイスのエラー " + s.pcmName + " " + snd_strerror(static_cast<int>(n)));
      s.lost = true;
      s.running = false;
      return;
    }
    s.readFrames += static_cast<uint64_t>(n);
    std::lock_guard lock(s.m);
    if (s.queue.empty()) continue;  // reset meanwhile
    WaveBuffer* b = s.queue.front();
    s.offset += static_cast<uint32_t>(n);
    s.delivered += static_cast<uint64_t>(n);
    if (s.offset >= b->bufferLength / 4) {
      b->Complete(b->bufferLength);
      s.queue.pop_front();
      s.offset = 0;
    }
  }
}

WaveResult AlsaWaveIn::Reset(WaveHandle handle) {
  Stream* s = Lookup(handle);
  if (!s) return kWaveInvalidHandle;
  StopReader(*s);
  snd_pcm_drop(s->pcm);
  std::lock_guard lock(s->m);
  ReturnQueuedBuffers(s->queue, s->offset);
  s->offset = 0;
  return kWaveOk;
}

WaveResult AlsaWaveIn::Stop(WaveHandle handle) {
  Stream* s = Lookup(handle);
  if (!s) return kWaveInvalidHandle;
  StopReader(*s);
  snd_pcm_drop(s->pcm);
  return kWaveOk;
}

WaveResult AlsaWaveIn::Unprepare(WaveHandle handle, WaveBuffer* buffer) {
  std::lock_guard lock(mutex_);
  if (!Find(handle)) return kWaveInvalidHandle;
  return UnprepareBuffer(buffer);
}

WaveResult AlsaWaveIn::Close(WaveHandle handle) {
  std::unique_ptr<Stream> s;
  {
    std::lock_guard lock(mutex_);
    auto it = streams_.find(handle);
    if (it == streams_.end()) return kWaveInvalidHandle;
    s = std::move(it->second);
    streams_.erase(it);
  }
  StopReader(*s);
  snd_pcm_close(s->pcm);
  return kWaveOk;
}

WaveResult AlsaWaveIn::Position(WaveHandle handle, uint64_t* samples) {
  std::lock_guard lock(mutex_);
  Stream* s = Find(handle);
  if (!s) return kWaveInvalidHandle;
  if (!samples) return kWaveInvalidParam;
  *samples = s->delivered.load();
  return kWaveOk;
}

WaveResult AlsaWaveIn::Status(WaveHandle handle) {
  std::lock_guard lock(mutex_);
  Stream* s = Find(handle);
  if (!s) return kWaveInvalidHandle;
  return s->lost ? kWaveDeviceLost : kWaveOk;
}

uint64_t AlsaWaveIn::DroppedFrames(WaveHandle handle) {
  std::lock_guard lock(mutex_);
  Stream* s = Find(handle);
  return s ? s->lostFrames.load() : 0;
}

std::string AlsaWaveIn::ErrorText(WaveResult code) {
  std::string text = StandardWaveErrorText(code);
  // The detail belongs to the one failed open it describes.
  const std::string detail = std::exchange(lastOpenDetail_, {});
  if (!detail.empty()) text += "（" + detail + "）";
  return text;
}

}  // namespace kavon::platform
