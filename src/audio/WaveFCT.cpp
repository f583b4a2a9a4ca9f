#include "audio/WaveFCT.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "audio/DiskWriter.h"
#include "audio/WaveDevices.h"
#include "audio/WaveMMIO.h"
#include "common/FileHelpers.h"
#include "common/Helpers.h"
#include "common/Log.h"
#include "common/Text.h"

namespace kavon {
namespace {

int Magnitude(int16_t s) { return s < 0 ? -static_cast<int>(s) : s; }

int AmpOf(int db) {
  // The linear value is kept in single precision, as the thresholds always were.
  const auto linear = static_cast<float>(DBToLin(db));
  return static_cast<int>(RoundHalfEven(static_cast<double>(linear) * 32767.0));
}

}  // namespace

DetectionParams ComputeDetection(const CaptureSettings& s) {
  DetectionParams p;
  p.MuonInAmp = AmpOf(s.MuonInLevel);
  p.MuonOutAmp = AmpOf(s.MuonOutLevel);
  const int64_t ms = std::max(1, s.MuonMS);
  p.MuonFrames = RoundHalfEven(static_cast<double>(int64_t{s.nFreq} * ms) / 1000.0);
  return p;
}

namespace {

// Sums a buffer's peaks and powers. Whole numbers throughout, so the loop
// vectorises: a square fits 31 bits and a buffer's sum of squares fits 64.
struct LevelSums {
  int peakL = 0, peakR = 0;
  int64_t powerL = 0, powerR = 0;

  void Add(int l, int r) {
    peakL = std::max(peakL, l < 0 ? -l : l);
    peakR = std::max(peakR, r < 0 ? -r : r);
    powerL += l * l;
    powerR += r * r;
  }
  BufferLevels Levels(FrameCount frames) const {
    BufferLevels levels;
    levels.frames = frames;
    levels.peak = {peakL, peakR};
    levels.power = {static_cast<double>(powerL), static_cast<double>(powerR)};
    return levels;
  }
};

// One sample times the gain, rounded half to even and limited to +-32767.
// Single precision, as the gain always was. Adding 1.5 x 2^23 leaves a
// float whose unit is 1, so the FPU's default rounding does the rounding
// and, unlike lrint, the compiler vectorises the loop; with |gain| <= 100
// every product stays inside the range where this is exact. The limit is
// taken on the whole number, where no float compare can stop vectorising.
int Gained(int16_t s, float gain) {
  constexpr float kRound = 12582912.0f;
  const int v = static_cast<int>(static_cast<float>(s) * gain + kRound) - 12582912;
  return std::clamp(v, -32767, 32767);
}

}  // namespace

// The two passes over every sample carry an AVX2 copy on x86-64 Linux,
// chosen when the program loads: twice as fast as the SSE2 code every
// x86-64 runs (no 32-bit min, max or multiply there), and a station PC old
// enough to lack AVX2 still runs the other.
#if defined(__x86_64__) && defined(__ELF__)
#define KAVON_SAMPLE_PASS [[gnu::target_clones("avx2", "default")]]
#else
#define KAVON_SAMPLE_PASS
#endif

KAVON_SAMPLE_PASS BufferLevels MeasureLevels(const int16_t* samples, FrameCount frames) {
  LevelSums sums;
  for (FrameCount i = 0; i < frames; ++i) sums.Add(samples[2 * i], samples[2 * i + 1]);
  return sums.Levels(frames);
}

KAVON_SAMPLE_PASS BufferLevels ApplyGainAndMeasure(int16_t* samples, FrameCount frames, double gain) {
  if (gain == 1.0) return MeasureLevels(samples, frames);
  const float g = std::clamp(static_cast<float>(gain), 0.0f, kMaxGain);
  LevelSums sums;
  for (FrameCount i = 0; i < frames; ++i) {
    const int l = Gained(samples[2 * i], g), r = Gained(samples[2 * i + 1], g);
    samples[2 * i] = static_cast<int16_t>(l);
    samples[2 * i + 1] = static_cast<int16_t>(r);
    sums.Add(l, r);
  }
  return sums.Levels(frames);
}

WaveFCT::WaveFCT(platform::WaveIn& wave, Log& log) : wave_(wave), log_(log) { SetFormat(settings_); }

WaveFCT::~WaveFCT() {
  for (int ch = 0; ch < kEngineChannels; ++ch) {
    if (!Channel(ch).Disk.FileName.empty()) platform::ReleaseFile(Channel(ch).Disk.FileName);
  }
}

void WaveFCT::SetFormat(const CaptureSettings& settings) {
  settings_ = settings;
  format_.formatTag = 1;
  format_.channels = 2;
  format_.samplesPerSec = static_cast<uint32_t>(settings.nFreq);
  format_.bitsPerSample = 16;
  format_.blockAlign = kBytesPerFrame;
  format_.avgBytesPerSec = format_.samplesPerSec * kBytesPerFrame;
  bufFrames_ = std::max<FrameCount>(1, RoundHalfEven(settings.nFreq / 4.0));
  detection_ = ComputeDetection(settings);
}

bool WaveFCT::ReadPosition(int ch) {
  ChannelCapture& c = Channel(ch);
  uint64_t samples = 0;
  if (wave_.Position(c.hWaveIn, &samples) != platform::kWaveOk) return false;
  c.Position = samples;
  return true;
}

void WaveFCT::CloseDevice(ChannelCapture& c) {
  wave_.Reset(c.hWaveIn);
  wave_.Stop(c.hWaveIn);
  for (auto& b : c.Buffers) wave_.Unprepare(c.hWaveIn, &b);
  wave_.Close(c.hWaveIn);
  c.hWaveIn = 0;
}

void WaveFCT::ResetRecording(ChannelCapture& c) {
  c.IsRecording = c.UseMuonIn ? 0 : 1;
  c.SilentRun = c.FramesWritten = c.FileFramesWritten = c.FramesCaptured = c.SoundStartFrame = 0;
  c.FramesDropped = 0;
  c.FileFull = false;
  c.Carry.clear();
  c.WriteFailures = 0;
  c.WriteFailing = false;
  c.BytesDropped = 0;
  c.StoppedOnSilence = false;
  c.PreRoll.clear();
}

int WaveFCT::OpenCapture(int ch) {
  if (ch < 0 || ch >= kEngineChannels) return 0;
  ChannelCapture& c = Channel(ch);
  if (c.IsOpen) return 0;
  detection_ = ComputeDetection(settings_);
  ResetRecording(c);
  c.NextBuf = 0;
  c.Position = 0;
  c.DeviceDropped = 0;
  c.DeviceLost = false;
  c.Overflow.clear();
  c.Disk.CurrentSize = 0;
  c.Disk.FileName.clear();
  c.Disk.BufSize = int64_t{settings_.nFreq} * kBytesPerFrame * 4;
  c.Disk.Data.resize(static_cast<size_t>(c.Disk.BufSize + 1025));
  c.Disk.FirstFlushBytes = (ch % kEngineChannels + 1) * 2 * bufFrames_ * kBytesPerFrame;
  // The stored name is resolved again at every open, so a device that was
  // renumbered or plugged in again is still the one the user chose.
  c.DevInID = GetDeviceID(wave_, c.DevInName);
  c.LastError = wave_.Open(&c.hWaveIn, c.DevInID, format_);
  if (c.LastError != platform::kWaveOk) {
    c.hWaveIn = 0;
    return 0;
  }
  const auto bytes = static_cast<uint32_t>(bufFrames_ * kBytesPerFrame);
  for (auto& b : c.Buffers) {
    // Kept from the last recording when the size is the same: no 30 s of
    // zeros written again at every start.
    b.samples.resize(static_cast<size_t>(bufFrames_) * 2);
    b.bufferLength = bytes;
    b.bytesRecorded.store(0);
    b.flags.store(0);
    wave_.Prepare(c.hWaveIn, &b);
    wave_.AddBuffer(c.hWaveIn, &b);
  }
  c.LastError = wave_.Start(c.hWaveIn);
  if (c.LastError != platform::kWaveOk) {
    // A device that cannot start is closed again, not left holding buffers.
    CloseDevice(c);
    return 0;
  }
  c.IsOpen = 1;
  if (writer_) {
    size_t open = 0;
    for (const auto& other : channels_) open += other.IsOpen == 1 ? 1 : 0;
    writer_->KeepSpares(open, c.Disk.Data.size());
  }
  return 1;
}

bool WaveFCT::DetectStart(ChannelCapture& c, const int16_t* s, FrameCount frames, FrameCount& first,
                          FrameCount& count) const {
  const int amp = detection_.MuonInAmp;
  for (FrameCount i = 0; i < frames; ++i) {
    if (Magnitude(s[2 * i]) > amp || Magnitude(s[2 * i + 1]) > amp) {
      first = i;
      count = frames - i;
      c.IsRecording = 1;
      c.SoundStartFrame = c.FramesCaptured + i;
      return true;
    }
  }
  return false;
}

bool WaveFCT::DetectStop(int ch, const int16_t* s, FrameCount frames, FrameCount first, FrameCount& count,
                         int& result) {
  ChannelCapture& c = Channel(ch);
  const int amp = detection_.MuonOutAmp;
  const FrameCount muon = detection_.MuonFrames;
  const auto silentAt = [&](FrameCount i) { return Magnitude(s[2 * i]) < amp && Magnitude(s[2 * i + 1]) < amp; };
  if (c.SilentRun + frames <= muon) {
    // No run can reach the limit within this buffer: only the run at its
    // end matters, found from the end (at once for programme audio).
    FrameCount trailing = 0;
    while (trailing < frames && silentAt(frames - 1 - trailing)) ++trailing;
    c.SilentRun = trailing == frames ? c.SilentRun + frames : trailing;
    return false;
  }
  for (FrameCount i = 0; i < frames; ++i) {
    if (!silentAt(i)) {
      c.SilentRun = 0;
      continue;
    }
    if (++c.SilentRun <= muon) continue;
    result = kMustStop;
    c.StoppedOnSilence = true;
    if (i - first > muon) {
      // The run began inside the part still to be written: keep every
      // frame before it.
      count = std::max<FrameCount>(1, i - muon - first);
      return false;
    }
    // The run began in audio already in the file: cut the file back to the
    // frame before it. Never into the header, never lengthening the file.
    WriteDiskBuffer(ch, nullptr, 0, c.RecFileName, 1);
    const FrameCount keep = std::clamp<FrameCount>(c.FileFramesWritten + (i - muon - first), 0, c.FileFramesWritten);
    SetLength(ch, c.RecFileName, static_cast<uint64_t>(keep) * kBytesPerFrame);
    c.FramesWritten -= c.FileFramesWritten - keep;
    c.FileFramesWritten = keep;
    return true;
  }
  return false;
}

int WaveFCT::ServiceCapture(int ch) { return ServiceBuffer(ch, true); }

FrameCount WaveFCT::PreRollFrames() const {
  return int64_t{std::clamp(settings_.PreRollMS, 0, 4000)} * settings_.nFreq / 1000;
}

void WaveFCT::KeepPreRoll(ChannelCapture& c, const int16_t* samples, FrameCount frames) const {
  const FrameCount keep = PreRollFrames();
  if (keep <= 0) return;
  c.PreRoll.insert(c.PreRoll.end(), samples, samples + 2 * frames);
  const auto excess = static_cast<FrameCount>(c.PreRoll.size() / 2) - keep;
  if (excess > 0) c.PreRoll.erase(c.PreRoll.begin(), c.PreRoll.begin() + 2 * excess);
}

void WaveFCT::WritePreRoll(int ch, const int16_t* samples, FrameCount first) {
  ChannelCapture& c = Channel(ch);
  const FrameCount want = PreRollFrames();
  if (want <= 0) return;
  // The frames of this buffer before the loud one, and before them what
  // the earlier buffers left.
  const FrameCount here = std::min(first, want);
  const FrameCount earlier = std::min(want - here, static_cast<FrameCount>(c.PreRoll.size() / 2));
  if (earlier > 0) {
    const int16_t* from = c.PreRoll.data() + c.PreRoll.size() - 2 * earlier;
    WriteDiskBuffer(ch, from, earlier * kBytesPerFrame, c.RecFileName, 0);
  }
  if (here > 0) WriteDiskBuffer(ch, samples + 2 * (first - here), here * kBytesPerFrame, c.RecFileName, 0);
  c.FramesWritten += earlier + here;
  c.Totals.framesWritten += static_cast<uint64_t>(earlier + here);
  c.FileFramesWritten += earlier + here;
  c.PreRoll.clear();
}

bool WaveFCT::ProcessFrames(int ch, int16_t* samples, FrameCount frames, int& result) {
  ChannelCapture& c = Channel(ch);
  FrameCount first = 0;
  FrameCount count = c.IsRecording ? frames : 0;
  if (!c.IsRecording) {
    if (DetectStart(c, samples, frames, first, count)) {
      WritePreRoll(ch, samples, first);
    } else {
      KeepPreRoll(c, samples, frames);
    }
  }
  if (!c.UseMuonOut) {
    c.SilentRun = 0;
  } else if (c.IsRecording && DetectStop(ch, samples, frames, first, count, result)) {
    return true;
  }
  if (!c.IsRecording || count <= 0) return false;
  const FrameCount fit = std::max<FrameCount>(0, maxFrames_ - c.FileFramesWritten);
  if (count > fit) {
    // Keep the file within its 32-bit sizes; the rest starts the next file.
    c.Carry.assign(samples + 2 * (first + fit), samples + 2 * (first + count));
    count = fit;
    c.FileFull = true;
    result = kMustStop;
  }
  if (count > 0) WriteDiskBuffer(ch, samples + 2 * first, count * kBytesPerFrame, c.RecFileName, 0);
  c.FramesWritten += count;
  c.Totals.framesWritten += static_cast<uint64_t>(count);
  c.FileFramesWritten += count;
  return false;
}

int WaveFCT::ServiceBuffer(int ch, bool requeue) {
  if (ch < 0 || ch >= kEngineChannels) return 0;
  ChannelCapture& c = Channel(ch);
  if (!c.IsOpen) return 0;
  const int b = c.NextBuf;
  platform::WaveBuffer& buf = c.Buffers[static_cast<size_t>(b)];
  if (!buf.Done()) {
    if (wave_.Status(c.hWaveIn) == platform::kWaveDeviceLost && !c.DeviceLost) {
      c.DeviceLost = true;
      log_.WriteLog("録音デバイス切断 " + std::to_string(ch + 1) + " " + c.RecFileName, 1);
    }
    return c.DeviceLost ? kMustStop : kNotYet;
  }
  int result = b;
  c.NextBuf = (b + 1) % kCaptureBuffers;
  // A short buffer holds only the frames it recorded.
  const FrameCount frames = std::min<FrameCount>(buf.bytesRecorded.load() / kBytesPerFrame, bufFrames_);
  int16_t* samples = buf.samples.data();
  // Gain and meter levels in one pass, before the buffer can go back to
  // the device (which may refill it at once).
  c.Levels = ApplyGainAndMeasure(samples, frames, c.RecGain);
  // A recording never takes more than its length; what lies beyond waits
  // for the recording that may take the device over.
  FrameCount take = frames;
  if (c.RecLimitFrames >= 1) {
    take = std::clamp<FrameCount>(c.RecLimitFrames - FramesElapsed(ch), 0, frames);
    c.Overflow.insert(c.Overflow.end(), samples + 2 * take, samples + 2 * frames);
  }
  if (ProcessFrames(ch, samples, take, result)) return kMustStop;
  const platform::WaveResult queued = requeue ? wave_.AddBuffer(c.hWaveIn, &buf) : platform::kWaveOk;
  if (queued != platform::kWaveOk) {
    // The buffer is ours again and already written: it must not look
    // returned-and-unread to the close that follows.
    buf.flags.store(platform::kBufferPrepared, std::memory_order_relaxed);
    log_.WriteLog("ServiceCapture AddBuffer err pl=" + std::to_string(ch) + " FN=" + c.RecFileName + " r=" +
                      std::to_string(queued),
                  1);
    result = kMustStop;
  }
  c.FramesCaptured += take;
  if (c.FileFramesWritten >= maxFrames_) {
    c.FileFull = true;
    result = kMustStop;
  }
  return result;
}

FrameCount WaveFCT::FramesElapsed(int ch) const {
  const ChannelCapture& c = Channel(ch);
  return c.FramesCaptured + c.FramesDropped;
}

FrameCount WaveFCT::ReadDropped(int ch) {
  ChannelCapture& c = Channel(ch);
  if (!c.IsOpen) return 0;
  const uint64_t total = wave_.DroppedFrames(c.hWaveIn);
  if (total <= c.DeviceDropped) return 0;
  const auto delta = static_cast<FrameCount>(total - c.DeviceDropped);
  c.DeviceDropped = total;
  c.FramesDropped += delta;
  c.Totals.lostDevice += static_cast<uint64_t>(delta);
  return delta;
}

int WaveFCT::HandOver(int ch, const std::string& fileName, FrameCount limitFrames) {
  if (ch < 0 || ch >= kEngineChannels) return 0;
  ChannelCapture& c = Channel(ch);
  if (!c.IsOpen) return 0;
  WriteDiskBuffer(ch, nullptr, 0, c.RecFileName, 1);
  if (c.WriteFailing && !writer_) NoteWriteRecovered(ch, c.RecFileName);
  std::vector<int16_t> next = std::move(c.Overflow);
  c.Overflow.clear();
  ResetRecording(c);
  c.RecFileName = fileName;
  c.RecLimitFrames = limitFrames;
  WriteDiskBuffer(ch, nullptr, 0, fileName, 0);
  const auto frames = static_cast<FrameCount>(next.size() / 2);
  const FrameCount take = limitFrames >= 1 ? std::min(frames, limitFrames) : frames;
  int result = 0;
  ProcessFrames(ch, next.data(), take, result);
  c.FramesCaptured += take;
  return 1;
}

int WaveFCT::WriteDiskBuffer(int ch, const void* src, int64_t byteLen, const std::string& fileName, int flush) {
  if (ch < 0 || ch >= kEngineChannels) return 0;
  ChannelCapture& c = Channel(ch);
  DiskBuffer& d = c.Disk;
  if (byteLen > d.BufSize) {
    log_.WriteLog("WriteDiskBuffer err1a pl=" + std::to_string(ch) + " FN=" + d.FileName + "pLen=" + std::to_string(byteLen), 1);
    return 0;
  }
  if (src != nullptr && byteLen < 1) {
    log_.WriteLog("WriteDiskBuffer err1b pl=" + std::to_string(ch) + " FN=" + d.FileName + "pLen=" +
                      std::to_string(byteLen) + " pSrcVar=" + std::to_string(reinterpret_cast<uintptr_t>(src)),
                  1);
    return 0;
  }
  const bool staggered = d.FirstFlushBytes > 0 && d.CurrentSize + byteLen > d.FirstFlushBytes;
  const bool due = fileName != d.FileName || flush == 1 || d.CurrentSize + byteLen >= d.BufSize || staggered;
  if (due && !d.FileName.empty() && d.CurrentSize >= 1) {
    WriteOut(ch);
    d.FirstFlushBytes = 0;
  }
  if (fileName != d.FileName && !d.FileName.empty()) Release(ch, d.FileName);
  if (!fileName.empty()) d.FileName = fileName;
  if (src != nullptr && byteLen > 0) {
    std::memcpy(d.Data.data() + d.CurrentSize, src, static_cast<size_t>(byteLen));
    d.CurrentSize += byteLen;
  }
  return 1;
}

void WaveFCT::WriteOut(int ch) {
  ChannelCapture& c = Channel(ch);
  DiskBuffer& d = c.Disk;
  WriteJob job;
  job.ch = ch;
  job.file = d.FileName;
  const int64_t bytes = d.CurrentSize;
  d.CurrentSize = 0;
  if (!writer_) {
    job.bytes.assign(d.Data.begin(), d.Data.begin() + bytes);
    HandleOutcome(ExecuteWrite(job, format_.samplesPerSec, sync_, journal_));
    return;
  }
  // The buffer itself goes to the writer; the channel goes on in one the
  // writer gave back.
  const size_t capacity = d.Data.size();
  job.bytes = std::move(d.Data);
  job.bytes.resize(static_cast<size_t>(bytes));
  d.Data = writer_->TakeBuffer(capacity);
  if (!writer_->Push(std::move(job))) {
    // The disk is a minute behind: what is waiting is kept, this goes.
    NoteLost(ch, d.FileName, bytes);
    c.Totals.lostBacklog += static_cast<uint64_t>(bytes / kBytesPerFrame);
    log_.WriteLog("書き込み待ちが一杯のため音声を破棄 " + std::to_string(ch + 1) + " " + d.FileName + " " +
                      FormatFixed(static_cast<double>(bytes) / kBytesPerFrame / format_.samplesPerSec, 3) + "秒",
                  1);
    return;
  }
  if (!c.Backlogged && writer_->Pending(ch) >= kBacklogJobs) {
    c.Backlogged = true;
    log_.WriteLog("書き込み遅延 " + std::to_string(ch + 1) + " " + d.FileName, 1);
  }
}

void WaveFCT::SetLength(int ch, const std::string& fileName, uint64_t bytes) {
  if (!writer_) {
    SetWaveDataLength(fileName, bytes);
    return;
  }
  WriteJob job;
  job.kind = WriteJob::Kind::SetLength;
  job.ch = ch;
  job.file = fileName;
  job.length = bytes;
  writer_->Push(std::move(job));
}

void WaveFCT::Release(int ch, const std::string& fileName) {
  Submit({WriteJob::Kind::Release, ch, fileName, {}, 0});
}

void WaveFCT::Submit(WriteJob job) {
  if (!writer_) {
    HandleOutcome(ExecuteWrite(job, format_.samplesPerSec, sync_, journal_));
    return;
  }
  writer_->Push(std::move(job));
}

void WaveFCT::NewFileMade(int ch, const std::string& fileName) {
  Submit({WriteJob::Kind::Begin, ch, fileName, {}, 0});
}

void WaveFCT::NewFileDropped(int ch, const std::string& fileName) { Release(ch, fileName); }

void WaveFCT::NoteLost(int ch, const std::string& fileName, int64_t bytes) {
  ChannelCapture& c = Channel(ch);
  // The counters say what the file holds, not what was meant for it (if
  // the channel still writes that file).
  if (fileName != c.RecFileName) return;
  const FrameCount frames = bytes / kBytesPerFrame;
  c.FramesWritten = std::max<FrameCount>(0, c.FramesWritten - frames);
  c.FileFramesWritten = std::max<FrameCount>(0, c.FileFramesWritten - frames);
}

void WaveFCT::HandleOutcome(const WriteOutcome& o) {
  if (o.ch < 0 || o.ch >= kEngineChannels) return;
  ChannelCapture& c = Channel(o.ch);
  if (o.status == 0) {
    ++c.WriteFailures;
    ++c.Totals.writeErrors;
    NoteWriteFailure(o.ch, o.file, o.bytesLost, o.why);
  } else if (o.status == 1 && c.WriteFailing) {
    NoteWriteRecovered(o.ch, o.file);
  }
}

void WaveFCT::CollectWrites() {
  if (!writer_) return;
  for (const WriteOutcome& o : writer_->Take()) HandleOutcome(o);
  for (int ch = 0; ch < kEngineChannels; ++ch) {
    ChannelCapture& c = Channel(ch);
    if (!c.Backlogged && !(c.WriteFailing && !c.IsOpen)) continue;
    if (writer_->Pending(ch) != 0) continue;
    if (c.Backlogged) {
      c.Backlogged = false;
      log_.WriteLog("書き込み遅延解消 " + std::to_string(ch + 1) + " " + c.Disk.FileName, 1);
    }
    // A run of failures ends with its recording.
    if (c.WriteFailing && !c.IsOpen) NoteWriteRecovered(ch, c.Disk.FileName);
  }
}

int64_t WaveFCT::UnwrittenBytes(int ch) {
  int64_t bytes = Channel(ch).Disk.CurrentSize;
  if (writer_) {
    const auto waiting = writer_->Waiting();
    if (const auto it = waiting.find(ch); it != waiting.end()) bytes += it->second;
  }
  return bytes;
}

bool WaveFCT::WaitForWrites(double seconds) {
  const bool drained = !writer_ || writer_->Drain(seconds);
  CollectWrites();
  return drained;
}

void WaveFCT::NoteWriteFailure(int ch, const std::string& fileName, int64_t bytesLost, const std::string& why) {
  ChannelCapture& c = Channel(ch);
  NoteLost(ch, fileName, bytesLost);
  c.BytesDropped += bytesLost;
  c.Totals.lostWriteError += static_cast<uint64_t>(bytesLost / kBytesPerFrame);
  if (std::exchange(c.WriteFailing, true)) return;
  log_.WriteLog("WriteDiskBuffer err2 pl=" + std::to_string(ch) + " FN=" + fileName + " " + why, 1);
}

void WaveFCT::NoteWriteRecovered(int ch, const std::string& fileName) {
  ChannelCapture& c = Channel(ch);
  const double seconds = static_cast<double>(c.BytesDropped) / kBytesPerFrame / format_.samplesPerSec;
  log_.WriteLog("書き込みエラー終了 " + std::to_string(ch + 1) + " " + fileName + " 失われた音声 " + FormatFixed(seconds, 3) +
                    "秒",
                1);
  c.WriteFailing = false;
  c.BytesDropped = 0;
}


int WaveFCT::ContinueInFile(int ch, const std::string& fileName) {
  if (ch < 0 || ch >= kEngineChannels) return 0;
  ChannelCapture& c = Channel(ch);
  if (!c.IsOpen) return 0;
  WriteDiskBuffer(ch, nullptr, 0, c.RecFileName, 1);
  c.RecFileName = fileName;
  c.FileFramesWritten = 0;
  c.FileFull = false;
  WriteDiskBuffer(ch, nullptr, 0, fileName, 0);
  if (!c.Carry.empty()) {
    const auto frames = static_cast<FrameCount>(c.Carry.size() / 2);
    WriteDiskBuffer(ch, c.Carry.data(), frames * kBytesPerFrame, fileName, 0);
    c.FramesWritten += frames;
    c.Totals.framesWritten += static_cast<uint64_t>(frames);
    c.FileFramesWritten += frames;
    c.Carry.clear();
  }
  return 1;
}

void WaveFCT::CloseCapture(int ch, bool keepReturned) {
  if (ch < 0 || ch >= kEngineChannels) return;
  ChannelCapture& c = Channel(ch);
  if (c.IsOpen && keepReturned && !c.StoppedOnSilence) {
    // The buffers that the reset hands back still hold audio: write them
    // before the flush instead of dropping them.
    wave_.Reset(c.hWaveIn);
    for (int n = 0; n < kCaptureBuffers && c.Buffers[static_cast<size_t>(c.NextBuf)].Done(); ++n) {
      if (ServiceBuffer(ch, false) == kMustStop) break;
    }
  }
  WriteDiskBuffer(ch, nullptr, 0, "", 1);
  // The run of failures ends with the recording (with a writer thread,
  // once its last write is done).
  if (c.WriteFailing && !writer_) NoteWriteRecovered(ch, c.Disk.FileName);
  if (c.IsOpen) CloseDevice(c);
  c.IsOpen = 0;
  c.FramesCaptured = 0;
  c.Carry.clear();
  c.Overflow.clear();
}

}  // namespace kavon
