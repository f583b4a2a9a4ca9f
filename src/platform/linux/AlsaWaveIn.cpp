#include "platform/linux/AlsaWaveIn.h"

#include <alsa/asoundlib.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <condition_variable>
#include <functional>
#include <memory>
#include <set>
#include <utility>

#include "platform/DropWatch.h"
#include "platform/WaveErrors.h"

namespace kavon::platform {
namespace {

constexpr unsigned kBufferUs = 2000000;  // up to two seconds in the driver
// A sound server's plugin asked for two seconds holds back the start of
// every recording (measured through PulseAudio 16: the first frames came
// 0.5 to 2 s after the start, and that audio never came); with one second
// they come within 50 ms, and a stall of the server up to a second still
// loses nothing.
constexpr unsigned kServerBufferUs = 1000000;
constexpr unsigned kPeriodUs = 50000;   // woken every 50 ms
constexpr int kWaitMs = 100;            // the reader looks at its stop flag this often
// Overruns again and again with nothing read between them, this long: the
// device (a sound server) is gone.
constexpr auto kFruitlessRecovery = std::chrono::seconds(2);
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

// A device call that does not come back (a sound server that was stopped
// or hangs) must never hold the tick: it runs on a thread of its own, and
// the caller waits for it this long at most.
constexpr auto kDeviceCallLimit = std::chrono::seconds(3);
// Stopping and closing take a healthy device milliseconds: a stream that
// stops answering is given this long, and no more waits after that, so
// that a quit with eight channels on a hung server still ends in time.
constexpr auto kStopCallLimit = std::chrono::seconds(1);

// Runs work on a thread of its own and waits at most `limit` for it; true
// when it finished. Given up on, the work goes on alone: what it touches
// must be its own (captured by value or shared).
bool RunBounded(std::function<void()> work, std::chrono::milliseconds limit = kDeviceCallLimit) {
  struct Done {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
  };
  auto d = std::make_shared<Done>();
  std::thread([d, work = std::move(work)] {
    work();
    {
      std::lock_guard lock(d->m);
      d->done = true;
    }
    d->cv.notify_all();
  }).detach();
  std::unique_lock lock(d->m);
  return d->cv.wait_for(lock, limit, [&d] { return d->done; });
}

// ALSA reads its configuration once per process and keeps it, and a sound
// server's configuration is loaded only when the server runs: a kavon
// started before the server would never find it. Each open reads the
// configuration afresh into a tree of its own (the global one, and the
// plugin libraries it keeps loaded, are left alone: unloading a server's
// client library and loading it again at every open leaks and risks its
// teardown). The tree is needed only while the PCM opens.
int OpenCaptureFresh(snd_pcm_t** pcm, const std::string& name) {
  snd_config_t* top = nullptr;
  snd_config_update_t* update = nullptr;
  if (snd_config_update_r(&top, &update, nullptr) < 0 || !top) {
    if (update) snd_config_update_free(update);
    return snd_pcm_open(pcm, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
  }
  const int err = snd_pcm_open_lconf(pcm, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK, top);
  snd_config_delete(top);
  snd_config_update_free(update);
  return err;
}

// Plugins that hints list but that are converters, mixers or outputs over
// another PCM, or that would start a server of their own (jack): never
// offered, never opened to find out.
bool IsConverterOrOutputPlugin(const std::string& pcm) {
  static const std::set<std::string> kPlugins = {
      "null",          "jack",        "oss",         "lavrate",          "samplerate",        "samplerate_best",
      "samplerate_linear", "samplerate_medium", "samplerate_order", "speexrate", "speexrate_best", "speexrate_medium",
      "speex",         "upmix",       "downmix",     "vdownmix",         "a52",               "usbstream"};
  return kPlugins.contains(pcm);
}

// Whether a PCM accepts a capture open now (closed again at once).
bool OpensForCapture(const std::string& pcm) {
  snd_pcm_t* handle = nullptr;
  if (snd_pcm_open(&handle, pcm.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK) < 0) return false;
  snd_pcm_close(handle);
  return true;
}

bool CanRecord(const std::string& pcm, const std::string& io) {
  if (io == "Output" || IsConverterOrOutputPlugin(pcm)) return false;
  // A card's PCMs and the sound servers' plugins are offered whatever state
  // they are in now (busy, or the server down): a stored choice stays valid.
  if (pcm.find("CARD=") != std::string::npos || pcm == "pulse" || pcm == "pipewire") return true;
  return OpensForCapture(pcm);
}

}  // namespace

std::vector<AlsaDevice> ListAlsaCaptureDevices() {
  std::vector<AlsaDevice> out{{"default", "default"}};
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) == 0 && hints) {
    for (void** h = hints; *h; ++h) {
      const std::string pcm = HintValue(*h, "NAME");
      const std::string desc = OneLine(HintValue(*h, "DESC"));
      if (pcm == "default") {
        if (!desc.empty()) out[0].name = "default: " + desc;
        continue;
      }
      if (pcm.empty() || !CanRecord(pcm, HintValue(*h, "IOID"))) continue;
      out.push_back({pcm, desc.empty() ? pcm : desc});
    }
    snd_device_name_free_hint(hints);
  }
  // Two PCMs with the same description would look alike in a list: those
  // carry their ALSA name too.
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
  std::atomic<uint64_t> lostFrames{0};  // all counted: overruns and a server's silent gaps
  uint64_t overrunLost = 0;              // of them, what overruns lost
  // A server's plugin may drop audio without an overrun (PipeWire under
  // load): the frames it handed over are held against the clock.
  DropWatch drops{48000, kServerBufferUs / 1e6};
  bool watching = false;
  std::chrono::steady_clock::time_point started;
  std::chrono::microseconds period{kPeriodUs};  // as the device granted it
  bool server = false;        // a sound server's plugin: read by the clock, not in real time
  // The reader has returned; set under m. Closed while it had not: it
  // closes the PCM when it returns.
  bool readerDone = false;
  bool closeWhenReaderEnds = false;
  // The device calls made on the pcm (drop, close), one at a time, in order,
  // whichever thread makes them.
  std::mutex calls;
  // A call on it did not come back in time: no further call is waited for.
  std::atomic<bool> hung{false};
  bool waitedInVain = false;  // the last read after a wait found nothing
  // Frames read when the device was last recovered, and since when every
  // recovery has been followed by another with nothing read between.
  uint64_t readAtRecovery = UINT64_MAX;
  std::chrono::steady_clock::time_point fruitlessSince;
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
  std::vector<WaveHandle> open;
  for (const auto& [h, s] : streams_) open.push_back(h);
  for (const WaveHandle h : open) Close(h);
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
  return devices_[static_cast<size_t>(id)].pcm;
}

std::string AlsaWaveIn::DeviceLabel(int id) {
  std::lock_guard lock(mutex_);
  if (id < 0 || id >= static_cast<int>(devices_.size())) return {};
  return devices_[static_cast<size_t>(id)].name;
}

std::shared_ptr<AlsaWaveIn::Stream> AlsaWaveIn::Lookup(WaveHandle h) {
  std::lock_guard lock(mutex_);
  auto it = streams_.find(h);
  return it == streams_.end() ? nullptr : it->second;
}

AlsaWaveIn::Stream* AlsaWaveIn::Find(WaveHandle h) {
  auto it = streams_.find(h);
  return it == streams_.end() ? nullptr : it->second.get();
}

namespace {

// What opening a PCM for capture gave: the PCM (or null) and its facts.
struct OpenedPcm {
  snd_pcm_t* pcm = nullptr;
  WaveResult result = kWaveOk;
  std::string detail;  // the ALSA error behind a failure
  std::chrono::microseconds period{kPeriodUs};
  bool server = false;
};

// Opens and sets up a PCM in the one format kavon records; closes it
// again when it cannot take that format.
OpenedPcm OpenPcm(const std::string& name, unsigned rate) {
  OpenedPcm out;
  int err = OpenCaptureFresh(&out.pcm, name);
  if (err < 0) {
    out.pcm = nullptr;
    out.detail = name + ": " + snd_strerror(err);
    out.result = OpenResult(err);
    return out;
  }
  snd_pcm_hw_params_t* hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  out.server = snd_pcm_type(out.pcm) == SND_PCM_TYPE_IOPLUG;
  unsigned bufferUs = out.server ? kServerBufferUs : kBufferUs, periodUs = kPeriodUs;
  const bool raw = name.rfind("hw:", 0) == 0;
  // A hardware PCM records at the rate asked or not at all; "default" and
  // "plug" devices convert, as their users chose.
  const bool ok = snd_pcm_hw_params_any(out.pcm, hw) >= 0 &&
                  snd_pcm_hw_params_set_access(out.pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) >= 0 &&
                  snd_pcm_hw_params_set_format(out.pcm, hw, SND_PCM_FORMAT_S16_LE) >= 0 &&
                  snd_pcm_hw_params_set_channels(out.pcm, hw, 2) >= 0 &&
                  (!raw || snd_pcm_hw_params_set_rate_resample(out.pcm, hw, 0) >= 0) &&
                  snd_pcm_hw_params_set_rate(out.pcm, hw, rate, 0) >= 0;
  if (ok) {
    snd_pcm_hw_params_set_buffer_time_near(out.pcm, hw, &bufferUs, nullptr);
    snd_pcm_hw_params_set_period_time_near(out.pcm, hw, &periodUs, nullptr);
    err = snd_pcm_hw_params(out.pcm, hw);
    if (err >= 0) err = snd_pcm_prepare(out.pcm);
  }
  if (!ok || err < 0) {
    out.detail = name + ": " + (ok ? std::string(snd_strerror(err)) : "S16_LE 2ch " + std::to_string(rate) + " Hz not supported");
    out.result = kWaveBadFormat;
    snd_pcm_close(out.pcm);
    out.pcm = nullptr;
    return out;
  }
  unsigned granted = 0;
  if (snd_pcm_hw_params_get_period_time(hw, &granted, nullptr) >= 0 && granted > 0) {
    out.period = std::chrono::microseconds(std::min(granted, kPeriodUs * 4));
  }
  return out;
}

}  // namespace

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
  // The open runs on a thread of its own: a sound server that accepts the
  // connection and never answers would hold it for good. One given up on
  // closes what it opened when it comes back.
  struct Call {
    std::mutex m;
    OpenedPcm opened;
    bool abandoned = false;
  };
  auto call = std::make_shared<Call>();
  const unsigned rate = format.samplesPerSec;
  const bool done = RunBounded([call, name, rate] {
    OpenedPcm opened = OpenPcm(name, rate);
    std::lock_guard lock(call->m);
    if (call->abandoned && opened.pcm) snd_pcm_close(opened.pcm);
    call->opened = std::move(opened);
  });
  std::unique_lock callLock(call->m);
  if (!done) {
    call->abandoned = true;
    lastOpenDetail_ = name + ": the device does not answer";
    return kWaveError;
  }
  const OpenedPcm opened = call->opened;
  callLock.unlock();
  if (!opened.pcm) {
    lastOpenDetail_ = opened.detail;
    return opened.result;
  }
  auto s = std::make_shared<Stream>();
  s->period = opened.period;
  s->server = opened.server;
  s->drops = DropWatch(format.samplesPerSec, kServerBufferUs / 1e6);
  s->pcm = opened.pcm;
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
  LockInMemory(*buffer);
  buffer->MarkPrepared();
  return kWaveOk;
}

void AlsaWaveIn::LockInMemory(const WaveBuffer& buffer) {
  // A page of a capture buffer swapped out would stall the reader on the
  // disk, the one thing it must never wait for.
  if (buffer.samples.empty() || buffer.flags.load() & kBufferPrepared) return;
  if (mlock(buffer.samples.data(), buffer.samples.size() * sizeof(int16_t)) == 0) return;
  if (memoryLockRefusalNoted_) return;
  memoryLockRefusalNoted_ = true;
  rlimit limit{};
  getrlimit(RLIMIT_MEMLOCK, &limit);
  messages_.push_back(std::string("録音バッファをメモリに固定できません ") + std::strerror(errno) + ", RLIMIT_MEMLOCK " +
                      (limit.rlim_cur == RLIM_INFINITY ? "unlimited" : std::to_string(limit.rlim_cur)));
}

WaveResult AlsaWaveIn::AddBuffer(WaveHandle handle, WaveBuffer* buffer) {
  const std::shared_ptr<Stream> s = Lookup(handle);
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
  const std::shared_ptr<Stream> s = Lookup(handle);
  if (!s) return kWaveInvalidHandle;
  if (s->running) return kWaveOk;
  auto err = std::make_shared<std::atomic<int>>(0);
  if (!RunBounded([s, err] {
        std::lock_guard calls(s->calls);
        *err = snd_pcm_start(s->pcm);
      })) {
    lastOpenDetail_ = s->pcmName + ": the device does not answer";
    return kWaveError;
  }
  if (*err < 0) {
    lastOpenDetail_ = s->pcmName + ": " + snd_strerror(*err);
    return kWaveError;
  }
  s->started = std::chrono::steady_clock::now();
  s->running = true;
  s->readerDone = false;
  s->thread = std::thread([this, s] {
    Reader(*s);
    bool close = false;
    {
      std::lock_guard lock(s->m);
      s->readerDone = true;
      close = s->closeWhenReaderEnds;
      s->queued.notify_all();
    }
    // Closed while this reader was held inside the plugin: the PCM is
    // closed now that nothing reads it any more.
    if (close) StopCall(s, true);
  });
  return kWaveOk;
}

bool AlsaWaveIn::StopReader(Stream& s) {
  s.running = false;
  s.queued.notify_all();
  if (!s.thread.joinable()) return true;
  std::unique_lock lock(s.m);
  if (!s.queued.wait_for(lock, s.hung ? std::chrono::seconds(0) : kStopCallLimit, [&s] { return s.readerDone; })) {
    // Held inside the plugin by a server that does not answer: the reader
    // keeps its stream and ends by itself; its buffers are not handed back.
    s.thread.detach();
    s.lost = true;
    s.hung = true;
    return false;
  }
  lock.unlock();
  s.thread.join();
  return true;
}

void AlsaWaveIn::StopCall(const std::shared_ptr<Stream>& s, bool close) {
  const bool done = RunBounded(
      [s, close] {
        std::lock_guard calls(s->calls);
        if (!s->pcm) return;
        if (!close) {
          snd_pcm_drop(s->pcm);
          return;
        }
        snd_pcm_close(s->pcm);
        s->pcm = nullptr;
      },
      s->hung ? std::chrono::milliseconds(0) : std::chrono::milliseconds(kStopCallLimit));
  if (!done) s->hung = true;
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

void AlsaWaveIn::WaitForFrames(Stream& s) {
  // A sound card's wait returns when a period is there. The sound servers'
  // plugins answer "ready" long before that and hand out a few frames at a
  // time: they are read by the clock, a period at a time, as is any device
  // whose wait came back with nothing. A real-time reader that trusted them
  // would take a whole core from the server it waits for.
  if (!s.server && !std::exchange(s.waitedInVain, true)) {
    snd_pcm_wait(s.pcm, kWaitMs);
    return;
  }
  std::unique_lock lock(s.m);
  s.queued.wait_for(lock, s.period, [&s] { return !s.running; });
}

void AlsaWaveIn::Reader(Stream& s) {
  pthread_setname_np(pthread_self(), "kavon reader");  // for top -H and the benchmarks
  // The reader is all that stands between the driver's buffer and an
  // overrun: on a busy machine it must run when the device has audio. Where
  // real-time scheduling is refused it runs as an ordinary thread, said once.
  // A sound server's plugin only copies from the server, whose own threads
  // run in real time and hold the audio meanwhile: its reader runs as an
  // ordinary thread, so it can never take the server's core.
  if (!s.server) {
    const std::string refused = RaiseToRealtime();
    if (!refused.empty() && !realtimeRefusalNoted_.exchange(true)) Note("録音スレッドはリアルタイム優先度なしで動作 " + refused);
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
    // The pulse plugin may also answer a read with no frames and no error.
    if (n == -EAGAIN || n == 0) {
      WaitForFrames(s);
      continue;
    }
    if (n == -EPIPE || n == -ESTRPIPE) {
      const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - s.started).count();
      const auto expected = static_cast<uint64_t>(elapsed * rate);
      const uint64_t lost = s.lostFrames.load();
      const uint64_t lostNow = expected > s.readFrames + lost ? expected - s.readFrames - lost : 0;
      s.lostFrames += lostNow;
      s.overrunLost += lostNow;
      // A sound server that went away leaves its plugin overrunning again
      // at once after every recovery: nothing read between recoveries for
      // kFruitlessRecovery means the device is gone. Such a run is paced
      // and said once.
      const auto now = std::chrono::steady_clock::now();
      const bool fruitless = s.readFrames == s.readAtRecovery;
      if (!fruitless) s.fruitlessSince = now;
      if (fruitless && now - s.fruitlessSince > kFruitlessRecovery) {
        n = -ENODEV;
      } else {
        if (fruitless) WaitForFrames(s);
        const int err = Recover(s, static_cast<int>(n));
        if (err >= 0) {
          if (!fruitless) {
            Note(std::string(n == -EPIPE ? "録音デバイスのオーバーランから回復 " : "録音デバイスの休止から回復 ") + s.pcmName +
                 " 失われたフレーム " + std::to_string(lostNow));
          }
          s.readAtRecovery = s.readFrames;
          continue;
        }
        n = err;
      }
    }
    if (n < 0) {
      // Gone or broken for good: the engine sees it through Status.
      Note("録音デバイスのエラー " + s.pcmName + " " + snd_strerror(static_cast<int>(n)));
      s.lost = true;
      s.running = false;
      return;
    }
    s.readFrames += static_cast<uint64_t>(n);
    s.waitedInVain = false;
    Deliver(s, static_cast<uint32_t>(n));
    if (s.server) WatchForGaps(s);
    // Drained: a server's plugin has nothing more for a while.
    if (s.server && static_cast<snd_pcm_uframes_t>(n) < want) WaitForFrames(s);
  }
}

void AlsaWaveIn::WatchForGaps(Stream& s) {
  const double now = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
  if (!std::exchange(s.watching, true)) s.drops.Start(now);
  s.lostFrames = s.overrunLost + s.drops.Update(now, s.readFrames + s.overrunLost);
}

void AlsaWaveIn::Deliver(Stream& s, uint32_t frames) {
  std::lock_guard lock(s.m);
  if (s.queue.empty()) return;  // reset meanwhile
  WaveBuffer* b = s.queue.front();
  s.offset += frames;
  s.delivered += frames;
  if (s.offset >= b->bufferLength / 4) {
    b->Complete(b->bufferLength);
    s.queue.pop_front();
    s.offset = 0;
  }
}

WaveResult AlsaWaveIn::Reset(WaveHandle handle) {
  const std::shared_ptr<Stream> s = Lookup(handle);
  if (!s) return kWaveInvalidHandle;
  const bool stopped = StopReader(*s);
  StopCall(s, false);
  std::lock_guard lock(s->m);
  if (stopped) {
    ReturnQueuedBuffers(s->queue, s->offset);
  } else {
    s->queue.clear();  // a reader still inside the plugin delivers nothing more
  }
  s->offset = 0;
  return kWaveOk;
}

WaveResult AlsaWaveIn::Stop(WaveHandle handle) {
  const std::shared_ptr<Stream> s = Lookup(handle);
  if (!s) return kWaveInvalidHandle;
  StopReader(*s);
  StopCall(s, false);
  return kWaveOk;
}

WaveResult AlsaWaveIn::Unprepare(WaveHandle handle, WaveBuffer* buffer) {
  std::lock_guard lock(mutex_);
  if (!Find(handle)) return kWaveInvalidHandle;
  const bool prepared = buffer && (buffer->flags.load() & kBufferPrepared) != 0;
  const WaveResult result = UnprepareBuffer(buffer);
  if (result == kWaveOk && prepared && !buffer->samples.empty()) {
    munlock(buffer->samples.data(), buffer->samples.size() * sizeof(int16_t));
  }
  return result;
}

WaveResult AlsaWaveIn::Close(WaveHandle handle) {
  std::shared_ptr<Stream> s;
  {
    std::lock_guard lock(mutex_);
    auto it = streams_.find(handle);
    if (it == streams_.end()) return kWaveInvalidHandle;
    s = std::move(it->second);
    streams_.erase(it);
  }
  if (!StopReader(*s)) {
    std::lock_guard lock(s->m);
    // A reader still inside the plugin would read a closed PCM: it closes
    // the PCM itself when it comes out.
    if (!s->readerDone) {
      s->closeWhenReaderEnds = true;
      return kWaveOk;
    }
  }
  // Closed in order after any drop still under way; a close that does not
  // come back is left to its thread (the next open of a sound card may
  // then find it busy, and is tried again).
  StopCall(s, true);
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
