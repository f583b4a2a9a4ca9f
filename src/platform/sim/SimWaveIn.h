#pragma once
// Simulated wave-input devices. Each device has a name and a source (tone,
// silence, noise, a script of level segments, or a WAV file) and fills the
// queued buffers in order as time passes on the clock's steady time: Pump
// brings every started device up to now. Tests call Pump from a FakeClock
// listener, so capture is exact and instant; StartRealtime runs a thread
// that pumps every 50 ms, so the program can record from it in real time.
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/WaveIn.h"

namespace kavon::platform {

struct SimSegment {
  enum class Kind { Silence, Tone, Noise };
  double seconds = 1.0;
  Kind kind = Kind::Silence;
  double frequency = 1000.0;
  double levelDb = -20.0;
};

struct SimSource {
  enum class Kind { Silence, Tone, Noise, Script, WavFile };
  Kind kind = Kind::Silence;
  double frequency = 1000.0;
  double levelDb = -20.0;
  std::vector<SimSegment> script;  // played once, then silence
  std::string wavPath;             // 16-bit PCM, played once, then silence

  static SimSource Tone(double hz, double db) { return {Kind::Tone, hz, db, {}, {}}; }
  static SimSource Silence() { return {}; }
  static SimSource Noise(double db) { return {Kind::Noise, 0, db, {}, {}}; }
  static SimSource Script(std::vector<SimSegment> segments) { return {Kind::Script, 0, 0, std::move(segments), {}}; }
  static SimSource Wav(std::string path) { return {Kind::WavFile, 0, 0, {}, std::move(path)}; }
};

struct SimDeviceSpec {
  std::string name;
  SimSource source;
};

class SimWaveIn : public WaveIn {
 public:
  SimWaveIn(const Clock& clock, std::vector<SimDeviceSpec> devices);
  ~SimWaveIn() override;

  // The devices of --audio sim.
  static std::vector<SimDeviceSpec> DemoDevices();

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

  // Delivers every frame due up to the clock's steady time now.
  void Pump();
  void StartRealtime();
  void StopRealtime();

  // Failure injection for tests.
  void FailNextOpen(WaveResult code) { failOpen_ = code; }
  void FailNextStart(WaveResult code) { failStart_ = code; }
  void FailAddBufferAfter(int calls) { failAddAfter_ = calls; }
  // The device goes away (its open streams fail, it cannot be opened), or
  // with lost false comes back.
  void LoseDevice(int deviceId, bool lost = true);
  // A device that stops delivering without an error (and goes on again).
  void FreezeDevice(int deviceId, bool frozen);
  // Frames dropped because no buffer was queued, per device.
  uint64_t LostFrames(int deviceId);
  int OpenHandles();
  // Forgets every open stream and its buffers, as the death of the
  // process that opened them does (tests of a kill).
  void ProcessDied();

 private:
  struct Device;
  struct Stream;
  void FillLocked(Stream& s, uint64_t upTo);
  Stream* Find(WaveHandle h);

  const Clock& clock_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Device>> devices_;
  std::map<WaveHandle, std::unique_ptr<Stream>> streams_;
  WaveHandle nextHandle_ = 1;
  WaveResult failOpen_ = kWaveOk;
  WaveResult failStart_ = kWaveOk;
  int failAddAfter_ = -1;
  std::thread thread_;
  std::atomic<bool> running_{false};
};

}  // namespace kavon::platform
