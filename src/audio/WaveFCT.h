#pragma once
// The capture engine: one wave-input device per recording channel, polled
// once per tick. Each returned buffer gets the channel's gain, passes input
// detection, goes through a four-second write-behind disk buffer into the
// channel's WAV file (valid after every flush), and is handed back to the
// device. All channels share one format: PCM, 2 channels, 16 bits, nFreq.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "audio/DiskWriter.h"
#include "platform/WaveIn.h"

namespace kavon {

class Log;
class RecordingJournal;

using FrameCount = int64_t;
// Buffers of a quarter second each queued to a device: 30 s at every rate
// between the device and the tick, so a busy machine that runs the tick
// late (a backup, a virus scan, a compile) loses nothing.
inline constexpr int kCaptureBuffers = 120;
inline constexpr int kEngineChannels = 8;
inline constexpr uint32_t kBytesPerFrame = 4;
// The most frames one file may receive: (2^32 - 10241) bytes of data.
inline constexpr FrameCount kMaxFramesPerFile = 1073739264;

// ServiceCapture results besides a buffer index 0 .. kCaptureBuffers - 1.
inline constexpr int kNotYet = -1;
inline constexpr int kMustStop = -2;
// Flushes of one channel waiting for the disk before that is a backlog.
inline constexpr size_t kBacklogJobs = 2;

// Settings the engine reads, shared by all channels.
struct CaptureSettings {
  int nFreq = 44100;
  int MuonInLevel = -50;
  int MuonOutLevel = -60;
  int MuonMS = 3000;
  // Audio kept from before the first loud frame when starting on sound.
  int PreRollMS = 0;
};

// Input detection thresholds derived from the settings.
struct DetectionParams {
  int MuonInAmp = 0;
  int MuonOutAmp = 0;
  FrameCount MuonFrames = 0;
};
DetectionParams ComputeDetection(const CaptureSettings& s);

// Peak and power of each side of one buffer, for the meter. Taken before
// the buffer goes back to the device, which may refill it at once.
struct BufferLevels {
  std::array<int, 2> peak{};        // largest magnitude, left and right
  std::array<double, 2> power{};    // sum of squares
  FrameCount frames = 0;
};
BufferLevels MeasureLevels(const int16_t* samples, FrameCount frames);
// The largest gain the engine applies (+40 dB); larger ones are taken as this.
inline constexpr float kMaxGain = 100.0f;
// Applies the gain to every sample (rounded half to even, limited to
// +-32767) and measures the result, in one pass over the buffer.
BufferLevels ApplyGainAndMeasure(int16_t* samples, FrameCount frames, double gain);

struct DiskBuffer {
  std::string FileName;
  int64_t CurrentSize = 0;
  int64_t BufSize = 0;
  // The first write-out of an open period comes after this many bytes, a
  // different share of the buffer per channel, so that channels started
  // together never all write in the same tick.
  int64_t FirstFlushBytes = 0;
  std::vector<char> Data;
};

// Capture state of one recording channel.
// Since the process started, never reset: what monitoring counts.
struct CaptureTotals {
  uint64_t framesWritten = 0;   // handed to the disk
  uint64_t lostDevice = 0;      // dropped by the device: an overrun, or kavon stalled
  uint64_t lostBacklog = 0;     // dropped because the disk was a minute behind
  uint64_t lostWriteError = 0;  // in writes that failed
  uint64_t writeErrors = 0;     // failed writes
};

struct ChannelCapture {
  platform::WaveHandle hWaveIn = 0;
  std::string DevInName;  // the stored device name, resolved at each open
  int DevInID = 0;        // the device the last open resolved it to
  double RecGain = 1.0;
  int UseMuonIn = 0;
  int UseMuonOut = 0;
  int IsOpen = 0;
  int IsRecording = 0;
  int NextBuf = 0;
  FrameCount SilentRun = 0;
  FrameCount FramesCaptured = 0;
  FrameCount FramesWritten = 0;      // over all files of this open period
  FrameCount FileFramesWritten = 0;  // into the current file
  FrameCount SoundStartFrame = 0;
  std::string RecFileName;
  FrameCount RecLimitFrames = 0;
  uint64_t Position = 0;  // device position in samples, read by the tick
  std::array<platform::WaveBuffer, kCaptureBuffers> Buffers;
  DiskBuffer Disk;
  // The file reached its size limit (the -2 is not a stop): the frames that
  // did not fit wait in Carry for the next file.
  bool FileFull = false;
  std::vector<int16_t> Carry;
  // Frames captured beyond RecLimitFrames: they belong to the recording
  // that takes the device over, if any (see HandOver).
  std::vector<int16_t> Overflow;
  // While waiting for sound: the last PreRollMS of audio, written ahead of
  // the first loud frame.
  std::vector<int16_t> PreRoll;
  // Frames the device dropped (overruns, stalls) during this recording;
  // they count toward its length, so it ends on time.
  FrameCount FramesDropped = 0;
  uint64_t DeviceDropped = 0;  // the device's own total at the last reading
  BufferLevels Levels;         // of the last buffer serviced
  int WriteFailures = 0;
  bool Backlogged = false;  // the disk is behind: told once when it starts and ends
  // A run of failed writes: told once when it starts and once when it
  // ends, with the audio it cost.
  bool WriteFailing = false;
  int64_t BytesDropped = 0;
  bool DeviceLost = false;
  // The recording ended on silence: nothing after the run is written.
  bool StoppedOnSilence = false;
  platform::WaveResult LastError = platform::kWaveOk;
  CaptureTotals Totals;
};

class WaveFCT {
 public:
  WaveFCT(platform::WaveIn& wave, Log& log);
  // Lets go of every file a channel still held open.
  ~WaveFCT();
  WaveFCT(const WaveFCT&) = delete;
  WaveFCT& operator=(const WaveFCT&) = delete;

  // Flushes go to this writer thread (none: written at once, inline).
  void SetWriter(DiskWriter* writer) { writer_ = writer; }
  // Flushes handed over while the hold lives start when it ends.
  WriteHold HoldWrites() { return WriteHold(writer_); }
  // Audio and header forced to the disk at each flush.
  void SetSync(bool on) { sync_ = on; }
  // The writer's results: failures, recoveries, the end of a backlog. The
  // tick calls it; nothing happens without a writer.
  void CollectWrites();
  // Files begun and ended are entered in and removed from this journal.
  void SetJournal(RecordingJournal* journal) { journal_ = journal; }
  // A new recording file of the channel, already claimed with its header.
  // It is entered in the journal and, with sync, forced to the disk with
  // its folder entry before its first audio: by the writer thread, so the
  // tick never waits for it, or at once without one.
  void NewFileMade(int ch, const std::string& fileName);
  // A new file the channel will not write after all (its start failed and
  // the file is gone again): it leaves the journal.
  void NewFileDropped(int ch, const std::string& fileName);
  // Audio of the channel held in memory, not yet on the disk: its disk
  // buffer and the flushes waiting for the writer. What a power cut now
  // would cost, at most.
  int64_t UnwrittenBytes(int ch);
  // Waits for every queued write, at most `seconds`; true when all are done.
  bool WaitForWrites(double seconds);
  // New detection levels, taken by each channel at its next start.
  void SetDetectionLevels(int muonInLevel, int muonOutLevel, int muonMS) {
    settings_.MuonInLevel = muonInLevel;
    settings_.MuonOutLevel = muonOutLevel;
    settings_.MuonMS = muonMS;
  }
  // Fixes the capture format and its derived sizes; before any channel opens.
  void SetFormat(const CaptureSettings& settings);
  const platform::WaveFormat& Format() const { return format_; }
  FrameCount BufFrames() const { return bufFrames_; }
  const DetectionParams& Detection() const { return detection_; }
  // The per-file frame limit; tests lower it to exercise the file change.
  void SetMaxFrames(FrameCount frames) { maxFrames_ = frames; }
  FrameCount MaxFrames() const { return maxFrames_; }

  ChannelCapture& Channel(int ch) { return channels_[static_cast<size_t>(ch)]; }
  const ChannelCapture& Channel(int ch) const { return channels_[static_cast<size_t>(ch)]; }

  // 1 when the device is open, its buffers queued and capture started; else
  // 0 with the device closed again and LastError set.
  int OpenCapture(int ch);
  // Processes at most one returned buffer: its index, kNotYet, or kMustStop.
  int ServiceCapture(int ch);
  // Flushes and closes; touches the device only when the channel is open.
  // With keepReturned the buffers the device hands back on reset are
  // written too; a recording that reached its length limit leaves them out.
  void CloseCapture(int ch, bool keepReturned = true);
  // Flushes the current file and goes on in fileName (already created with
  // its header), writing the frames that did not fit first. 1 on success.
  int ContinueInFile(int ch, const std::string& fileName);
  // Appends bytes for fileName to the disk buffer, writing held bytes out
  // first when the file changes, on flush or when full. 1 accepted, 0 not.
  int WriteDiskBuffer(int ch, const void* src, int64_t byteLen, const std::string& fileName, int flush);
  // Ends the current recording at its length and goes on in fileName
  // (already created with its header) on the same open device: the first
  // frame of the new file is the one after the last frame of the old. The
  // new recording starts as a fresh one (detection, counters) with the
  // given limit. 1 on success.
  int HandOver(int ch, const std::string& fileName, FrameCount limitFrames);
  // Reads the device position into Channel(ch).Position; false on failure.
  bool ReadPosition(int ch);
  // Frames the device dropped since the last call; added to FramesDropped.
  FrameCount ReadDropped(int ch);
  // Frames of the recording's length used up: captured plus dropped.
  FrameCount FramesElapsed(int ch) const;

 private:
  // One returned buffer; requeue false while closing after a reset.
  int ServiceBuffer(int ch, bool requeue);
  // Detection and the disk buffer for frames of the current recording;
  // true when a stop on silence has already cut the file.
  bool ProcessFrames(int ch, int16_t* samples, FrameCount frames, int& result);
  void ResetRecording(ChannelCapture& c);
  FrameCount PreRollFrames() const;
  // Keeps the tail of audio heard while waiting for sound.
  void KeepPreRoll(ChannelCapture& c, const int16_t* samples, FrameCount frames) const;
  // Writes the pre-roll that ends just before frame `first` of samples.
  void WritePreRoll(int ch, const int16_t* samples, FrameCount first);
  bool DetectStart(ChannelCapture& c, const int16_t* samples, FrameCount frames, FrameCount& first, FrameCount& count) const;
  // Stop detection; true when it ended the call itself (the cut).
  bool DetectStop(int ch, const int16_t* samples, FrameCount frames, FrameCount first, FrameCount& count, int& result);
  void WriteOut(int ch);
  void SetLength(int ch, const std::string& fileName, uint64_t bytes);
  // The channel is done with the file: it is no longer held open.
  void Release(int ch, const std::string& fileName);
  // To the writer thread, or done at once when there is none.
  void Submit(WriteJob job);
  void HandleOutcome(const WriteOutcome& outcome);
  void NoteLost(int ch, const std::string& fileName, int64_t bytes);
  void NoteWriteFailure(int ch, const std::string& fileName, int64_t bytesLost, const std::string& why);
  void NoteWriteRecovered(int ch, const std::string& fileName);
  void CloseDevice(ChannelCapture& c);

  platform::WaveIn& wave_;
  Log& log_;
  CaptureSettings settings_;
  platform::WaveFormat format_;
  FrameCount bufFrames_ = 11025;
  FrameCount maxFrames_ = kMaxFramesPerFile;
  DiskWriter* writer_ = nullptr;
  RecordingJournal* journal_ = nullptr;
  bool sync_ = false;
  DetectionParams detection_;
  std::array<ChannelCapture, kEngineChannels> channels_;
};

}  // namespace kavon
