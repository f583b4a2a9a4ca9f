#include "platform/win/WinWaveIn.h"

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <deque>
#include <thread>

#include "platform/win/WinText.h"

namespace kavon::platform {

struct WinWaveIn::Stream {
  HWAVEIN wave = nullptr;
  HANDLE event = nullptr;
  std::map<WaveBuffer*, std::unique_ptr<WAVEHDR>> headers;
  std::mutex queueMutex;
  std::deque<WaveBuffer*> queue;  // in the order they were added
  std::thread collector;
  std::atomic<bool> stopping{false};
  uint32_t blockAlign = 4;

  // Hands back, in order, every queued buffer that winmm has finished.
  void Collect() {
    std::lock_guard lock(queueMutex);
    while (!queue.empty()) {
      WAVEHDR* h = headers.at(queue.front()).get();
      if ((h->dwFlags & WHDR_DONE) == 0) break;
      queue.front()->Complete(h->dwBytesRecorded);
      queue.pop_front();
    }
  }
  void Run() {
    while (!stopping.load()) {
      WaitForSingleObject(event, 50);
      Collect();
    }
  }
};

WinWaveIn::WinWaveIn() = default;

WinWaveIn::~WinWaveIn() {
  std::vector<WaveHandle> open;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [h, s] : streams_) open.push_back(h);
  }
  for (const WaveHandle h : open) {
    Reset(h);
    Close(h);
  }
}

int WinWaveIn::DeviceCount() { return static_cast<int>(waveInGetNumDevs()); }

std::string WinWaveIn::DeviceName(int id) {
  if (id < 0 || id >= DeviceCount()) return {};
  WAVEINCAPSW caps{};
  if (waveInGetDevCapsW(static_cast<UINT>(id), &caps, sizeof caps) != MMSYSERR_NOERROR) return {};
  return Utf8(caps.szPname);
}

WinWaveIn::Stream* WinWaveIn::Find(WaveHandle h) {
  std::lock_guard lock(mutex_);
  const auto it = streams_.find(h);
  return it == streams_.end() ? nullptr : it->second.get();
}

WaveResult WinWaveIn::Open(WaveHandle* handle, int deviceId, const WaveFormat& format) {
  if (!handle) return kWaveInvalidParam;
  auto s = std::make_unique<Stream>();
  s->event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  WAVEFORMATEX wfx{};
  wfx.wFormatTag = format.formatTag;
  wfx.nChannels = format.channels;
  wfx.nSamplesPerSec = format.samplesPerSec;
  wfx.nAvgBytesPerSec = format.avgBytesPerSec;
  wfx.nBlockAlign = format.blockAlign;
  wfx.wBitsPerSample = format.bitsPerSample;
  const UINT id = deviceId == kWaveMapper ? WAVE_MAPPER : static_cast<UINT>(deviceId);
  const MMRESULT rc = waveInOpen(&s->wave, id, &wfx, reinterpret_cast<DWORD_PTR>(s->event), 0, CALLBACK_EVENT);
  if (rc != MMSYSERR_NOERROR) {
    CloseHandle(s->event);
    return static_cast<WaveResult>(rc);
  }
  s->blockAlign = format.blockAlign;
  Stream* raw = s.get();
  raw->collector = std::thread([raw] { raw->Run(); });
  std::lock_guard lock(mutex_);
  *handle = nextHandle_++;
  streams_[*handle] = std::move(s);
  return kWaveOk;
}

WaveResult WinWaveIn::Prepare(WaveHandle handle, WaveBuffer* buffer) {
  Stream* s = Find(handle);
  if (!s) return kWaveInvalidHandle;
  if (!buffer || !buffer->Usable()) return kWaveInvalidParam;
  auto header = std::make_unique<WAVEHDR>();
  header->lpData = reinterpret_cast<LPSTR>(buffer->samples.data());
  header->dwBufferLength = buffer->bufferLength;
  const MMRESULT rc = waveInPrepareHeader(s->wave, header.get(), sizeof(WAVEHDR));
  if (rc != MMSYSERR_NOERROR) return static_cast<WaveResult>(rc);
  std::lock_guard lock(s->queueMutex);
  s->headers[buffer] = std::move(header);
  buffer->MarkPrepared();
  return kWaveOk;
}

WaveResult WinWaveIn::AddBuffer(WaveHandle handle, WaveBuffer* buffer) {
  Stream* s = Find(handle);
  if (!s) return kWaveInvalidHandle;
  std::lock_guard lock(s->queueMutex);
  const auto it = s->headers.find(buffer);
  if (it == s->headers.end()) return kWaveUnprepared;
  buffer->MarkQueued();
  it->second->dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
  it->second->dwBytesRecorded = 0;
  const MMRESULT rc = waveInAddBuffer(s->wave, it->second.get(), sizeof(WAVEHDR));
  if (rc != MMSYSERR_NOERROR) return static_cast<WaveResult>(rc);
  s->queue.push_back(buffer);
  return kWaveOk;
}

WaveResult WinWaveIn::Start(WaveHandle handle) {
  Stream* s = Find(handle);
  return s ? static_cast<WaveResult>(waveInStart(s->wave)) : kWaveInvalidHandle;
}

WaveResult WinWaveIn::Reset(WaveHandle handle) {
  Stream* s = Find(handle);
  if (!s) return kWaveInvalidHandle;
  const MMRESULT rc = waveInReset(s->wave);
  s->Collect();  // winmm has marked every queued buffer done
  return static_cast<WaveResult>(rc);
}

WaveResult WinWaveIn::Stop(WaveHandle handle) {
  Stream* s = Find(handle);
  return s ? static_cast<WaveResult>(waveInStop(s->wave)) : kWaveInvalidHandle;
}

WaveResult WinWaveIn::Unprepare(WaveHandle handle, WaveBuffer* buffer) {
  Stream* s = Find(handle);
  if (!s) return kWaveInvalidHandle;
  std::lock_guard lock(s->queueMutex);
  const auto it = s->headers.find(buffer);
  if (it == s->headers.end()) return UnprepareBuffer(buffer);
  const MMRESULT rc = waveInUnprepareHeader(s->wave, it->second.get(), sizeof(WAVEHDR));
  if (rc != MMSYSERR_NOERROR) return static_cast<WaveResult>(rc);
  s->headers.erase(it);
  return UnprepareBuffer(buffer);
}

WaveResult WinWaveIn::Close(WaveHandle handle) {
  std::unique_ptr<Stream> s;
  {
    std::lock_guard lock(mutex_);
    const auto it = streams_.find(handle);
    if (it == streams_.end()) return kWaveInvalidHandle;
    s = std::move(it->second);
    streams_.erase(it);
  }
  s->stopping = true;
  SetEvent(s->event);
  if (s->collector.joinable()) s->collector.join();
  waveInReset(s->wave);
  for (auto& [buffer, header] : s->headers) waveInUnprepareHeader(s->wave, header.get(), sizeof(WAVEHDR));
  const MMRESULT rc = waveInClose(s->wave);
  CloseHandle(s->event);
  return static_cast<WaveResult>(rc);
}

WaveResult WinWaveIn::Position(WaveHandle handle, uint64_t* samples) {
  Stream* s = Find(handle);
  if (!s || !samples) return kWaveInvalidHandle;
  MMTIME t{};
  t.wType = TIME_SAMPLES;
  const MMRESULT rc = waveInGetPosition(s->wave, &t, sizeof t);
  if (rc != MMSYSERR_NOERROR) return static_cast<WaveResult>(rc);
  *samples = t.wType == TIME_SAMPLES ? t.u.sample : (t.wType == TIME_BYTES ? t.u.cb / s->blockAlign : 0);
  return kWaveOk;
}

WaveResult WinWaveIn::Status(WaveHandle handle) { return Find(handle) ? kWaveOk : kWaveInvalidHandle; }

std::string WinWaveIn::ErrorText(WaveResult code) {
  wchar_t text[MAXERRORLENGTH] = {};
  if (waveInGetErrorTextW(static_cast<MMRESULT>(code), text, MAXERRORLENGTH) != MMSYSERR_NOERROR) {
    return "wave error " + std::to_string(code);
  }
  return Utf8(text);
}

}  // namespace kavon::platform
