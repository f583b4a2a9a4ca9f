#include "platform/win/WinWaveIn.h"

#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>
#include <mmdeviceapi.h>
// The property keys are defined here, not only declared.
#include <initguid.h>
#include <functiondiscoverykeys_devpkey.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <thread>

#include "platform/DropWatch.h"
#include "platform/win/WinText.h"

namespace kavon::platform {
namespace {

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A device that has buffers and hands none back for this long is gone
// (winmm says nothing when a USB device is pulled out).
constexpr double kSilentDeviceSeconds = 10;
constexpr double kBufferSecondsAssumed = 0.25;

}  // namespace

struct WinWaveIn::Stream {
  HWAVEIN wave = nullptr;
  HANDLE event = nullptr;
  std::map<WaveBuffer*, std::unique_ptr<WAVEHDR>> headers;
  std::mutex queueMutex;
  std::deque<WaveBuffer*> queue;  // in the order they were added
  std::thread collector;
  std::atomic<bool> stopping{false};
  uint32_t blockAlign = 4;
  // Under queueMutex: what the device has handed back, and when.
  uint64_t delivered = 0;
  bool started = false;
  bool delivering = false;  // the first buffer has come back
  double lastReturn = 0;  // a buffer came back (or capture started)
  double lastLook = 0;    // the collector last looked
  DropWatch drops{44100, kBufferSecondsAssumed};

  // Hands back, in order, every queued buffer that winmm has finished.
  void Collect() {
    std::lock_guard lock(queueMutex);
    const double now = SteadySeconds();
    while (!queue.empty()) {
      WAVEHDR* h = headers.at(queue.front()).get();
      if ((h->dwFlags & WHDR_DONE) == 0) break;
      if (started && !delivering) {
        // The watch begins with the first audio, not with the start call.
        delivering = true;
        drops.Start(now);
      } else {
        delivered += h->dwBytesRecorded / blockAlign;
      }
      queue.front()->Complete(h->dwBytesRecorded);
      queue.pop_front();
      lastReturn = now;
    }
    lastLook = now;
    if (delivering) drops.Update(now, delivered);
  }
  void Run() {
    while (!stopping.load()) {
      WaitForSingleObject(event, 50);
      Collect();
    }
  }
  // Buffers wait and none has come back for a while, though the collector
  // kept looking (a process that was stopped as a whole has not lost its
  // device).
  bool Silent() {
    std::lock_guard lock(queueMutex);
    const double now = SteadySeconds();
    return started && !queue.empty() && now - lastReturn > kSilentDeviceSeconds && now - lastLook < 1;
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

std::vector<std::wstring> WinWaveIn::ReadNames() {
  // One enumerator for all: each activation of it is a trip to the audio
  // service.
  const int count = static_cast<int>(waveInGetNumDevs());
  const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  IMMDeviceEnumerator* devices = nullptr;
  if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                              reinterpret_cast<void**>(&devices)))) {
    devices = nullptr;
  }
  std::vector<std::wstring> names;
  for (int id = 0; id < count; ++id) {
    // winmm's names stop at 31 characters; the endpoint's own name does not.
    std::wstring name = devices ? EndpointName(devices, id) : std::wstring();
    WAVEINCAPSW caps{};
    if (name.empty() && waveInGetDevCapsW(static_cast<UINT>(id), &caps, sizeof caps) == MMSYSERR_NOERROR) {
      name = caps.szPname;
    }
    names.push_back(std::move(name));
  }
  if (devices) devices->Release();
  if (SUCCEEDED(init)) CoUninitialize();
  return names;
}

std::wstring WinWaveIn::EndpointName(IMMDeviceEnumerator* devices, int id) {
  // The endpoint behind the winmm device, and its friendly name.
  const auto wave = reinterpret_cast<HWAVEIN>(static_cast<UINT_PTR>(id));
  ULONG bytes = 0;
  if (waveInMessage(wave, DRV_QUERYFUNCTIONINSTANCEIDSIZE, reinterpret_cast<DWORD_PTR>(&bytes), 0) != MMSYSERR_NOERROR ||
      bytes < sizeof(wchar_t)) {
    return {};
  }
  std::wstring endpoint(bytes / sizeof(wchar_t), L'\0');
  if (waveInMessage(wave, DRV_QUERYFUNCTIONINSTANCEID, reinterpret_cast<DWORD_PTR>(endpoint.data()), bytes) !=
      MMSYSERR_NOERROR) {
    return {};
  }
  std::wstring name;
  IMMDevice* device = nullptr;
  IPropertyStore* store = nullptr;
  if (SUCCEEDED(devices->GetDevice(endpoint.c_str(), &device)) && SUCCEEDED(device->OpenPropertyStore(STGM_READ, &store))) {
    PROPVARIANT value;
    PropVariantInit(&value);
    if (SUCCEEDED(store->GetValue(PKEY_Device_FriendlyName, &value)) && value.vt == VT_LPWSTR) name = value.pwszVal;
    PropVariantClear(&value);
  }
  if (store) store->Release();
  if (device) device->Release();
  return name;
}

int WinWaveIn::DeviceCount() {
  // Listed anew each time, so that a device plugged in since is found; the
  // names are asked of the audio service here, once for every device.
  auto fresh = ReadNames();
  std::lock_guard lock(mutex_);
  names_ = std::move(fresh);
  return static_cast<int>(names_.size());
}

std::string WinWaveIn::DeviceName(int id) {
  std::lock_guard lock(mutex_);
  if (id < 0 || id >= static_cast<int>(names_.size())) return {};
  const std::wstring& mine = names_[static_cast<size_t>(id)];
  // Two devices of one name (two cards of a kind) are told apart by their
  // place among those of that name, as the settings store them.
  const auto same = std::count(names_.begin(), names_.end(), mine);
  const auto before = std::count(names_.begin(), names_.begin() + id, mine);
  const std::string text = Utf8(mine);
  return same > 1 ? text + " [" + std::to_string(before + 1) + "]" : text;
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
  if (!s->event) return kWaveNoMemory;
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
  s->blockAlign = format.blockAlign == 0 ? 4 : format.blockAlign;
  s->drops = DropWatch(format.samplesPerSec, kBufferSecondsAssumed);
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
  it->second->dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
  it->second->dwBytesRecorded = 0;
  const MMRESULT rc = waveInAddBuffer(s->wave, it->second.get(), sizeof(WAVEHDR));
  // A buffer winmm refused stays the engine's.
  if (rc != MMSYSERR_NOERROR) return rc == MMSYSERR_NODRIVER ? kWaveDeviceLost : static_cast<WaveResult>(rc);
  buffer->MarkQueued();
  s->queue.push_back(buffer);
  return kWaveOk;
}

WaveResult WinWaveIn::Start(WaveHandle handle) {
  Stream* s = Find(handle);
  if (!s) return kWaveInvalidHandle;
  const MMRESULT rc = waveInStart(s->wave);
  if (rc != MMSYSERR_NOERROR) return static_cast<WaveResult>(rc);
  std::lock_guard lock(s->queueMutex);
  s->started = true;
  s->delivering = false;
  s->lastReturn = s->lastLook = SteadySeconds();
  s->delivered = 0;
  return kWaveOk;
}

WaveResult WinWaveIn::Reset(WaveHandle handle) {
  Stream* s = Find(handle);
  if (!s) return kWaveInvalidHandle;
  const MMRESULT rc = waveInReset(s->wave);
  {
    std::lock_guard lock(s->queueMutex);
    s->started = false;
    s->delivering = false;
  }
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

WaveResult WinWaveIn::Status(WaveHandle handle) {
  Stream* s = Find(handle);
  if (!s) return kWaveInvalidHandle;
  return s->Silent() ? kWaveDeviceLost : kWaveOk;
}

uint64_t WinWaveIn::DroppedFrames(WaveHandle handle) {
  Stream* s = Find(handle);
  if (!s) return 0;
  std::lock_guard lock(s->queueMutex);
  return s->delivering ? s->drops.Update(SteadySeconds(), s->delivered) : 0;
}

std::string WinWaveIn::ErrorText(WaveResult code) {
  wchar_t text[MAXERRORLENGTH] = {};
  if (waveInGetErrorTextW(static_cast<MMRESULT>(code), text, MAXERRORLENGTH) != MMSYSERR_NOERROR) {
    return "wave error " + std::to_string(code);
  }
  return Utf8(text);
}

}  // namespace kavon::platform
