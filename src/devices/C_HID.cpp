#include "devices/C_HID.h"

#include <cmath>

#include "common/Helpers.h"
#include "common/Text.h"

namespace kavon {
namespace {

constexpr int kMinBoxReport = 3;      // report ID, value or port, port or value
constexpr int kMinShuttleReport = 6;  // report ID, ring, jog, spare, two button bytes
constexpr int kPorts = 8;
constexpr int kNothing = 255;
constexpr int kSilentErrorLoops = 3;  // abandoned exchanges before -1 is returned
constexpr int kWriteWaitMs = 2000;
constexpr int kInquirySlot = 0, kAnswerSlot = 1, kWriteSlot = 2;

std::string Three(int v) { return Pad(v, 3); }

// A busy flag (WhileReadFile, WhileWriteFile) set for as long as a call runs.
struct BusyWhile {
  explicit BusyWhile(int& flag) : flag_(flag) { flag_ = 1; }
  ~BusyWhile() { flag_ = 0; }
  BusyWhile(const BusyWhile&) = delete;
  BusyWhile& operator=(const BusyWhile&) = delete;
  int& flag_;
};

}  // namespace

C_HID::C_HID(platform::HidSystem& system, const platform::Clock& clock, Log& log)
    : system_(system), clock_(clock), log_(log) {}

int C_HID::HidInit(int pMode, int pOpt, int pSyncMode, int pIDOrder, const std::string& pHIDFilename) {
  HidClose();
  openError_.clear();
  lost_ = false;
  uint16_t vendor = 0, product = 0;
  int minIn = 0, minOut = 0;
  if (pMode == kModeShuttle) {
    vendor = ShuttleVendorID, product = ShuttleProductID, minIn = kMinShuttleReport;
  } else if (pMode == kModeBox) {
    vendor = BoxVendorID, product = static_cast<uint16_t>(pOpt < 2 ? 1 : pOpt);
    minIn = minOut = kMinBoxReport;
  } else {
    return 0;
  }
  mode_ = pMode;
  syncMode_ = pSyncMode;
  int matched = 0;
  for (const platform::HidDeviceInfo& info : system_.List()) {
    if (info.vendorId != vendor || info.productId != product) continue;
    // A composite device shows several interfaces; only one whose reports
    // carry the exchanges is the box (or the jog controller).
    if (info.inputLength < minIn || info.outputLength < minOut) continue;
    const bool wanted = (pIDOrder == -1 || pIDOrder == matched) && (pHIDFilename.empty() || pHIDFilename == info.path);
    ++matched;
    if (!wanted) continue;
    std::string reason;
    device_ = system_.Open(info, reason);
    if (!device_) {
      openError_ = info.path + " (" + reason + ")";
      continue;
    }
    inLen_ = info.inputLength;
    outLen_ = pMode == kModeBox ? info.outputLength : 0;
    in_.assign(static_cast<size_t>(inLen_), 0);
    out_.assign(static_cast<size_t>(outLen_), 0);
    reportId_ = info.outputReportId;
    prevReport_ = {0, -1, -1};
    errorLoop_ = 0;
    path_ = info.path;
    return 1;
  }
  return 0;
}

void C_HID::HidClose() {
  whileRead_ = whileWrite_ = inquirySent_ = inquiryDone_ = readRequested_ = readTried_ = errorLoop_ = 0;
  answerWaiting_ = false;
  lateValues_.clear();
  device_.reset();
  path_.clear();
}

void C_HID::ClearReport() {
  std::fill(out_.begin(), out_.end(), 0);
  // A box whose descriptor numbers its reports answers only to its own ID.
  if (!out_.empty()) out_[0] = reportId_;
}

bool C_HID::HIDIO(bool isRead, int slot, bool wait) {
  if (!device_) return false;
  const double start = clock_.SecondsSinceMidnight();
  platform::HidStatus status;
  std::vector<uint8_t> report;
  if (isRead) {
    status = device_->Read(report, wait ? timeoutMs_ : 0);
  } else {
    status = device_->Write(out_, wait ? timeoutMs_ : 0);
  }
  const std::string flag = std::string(" pIsRead=") + (isRead ? "1" : "0");
  switch (status) {
    case platform::HidStatus::Done:
      if (isRead && static_cast<int>(report.size()) < inLen_) {
        Report("HIDIO insufficient " + std::to_string(report.size()) + flag);
        return false;
      }
      if (isRead) {
        std::copy_n(report.begin(), in_.size(), in_.begin());
        answerWaiting_ = true;
      }
      return true;
    case platform::HidStatus::Pending: {
      if (!wait) return true;
      const auto took = static_cast<int64_t>(std::floor(ElapsedSec(clock_, start) * 1000));
      Report("HIDIO GetOverlappedResult TimeOut" + flag + " pOl=" + std::to_string(slot) + " tTakes=" +
             std::to_string(took) + " c_TimeoutMS=" + std::to_string(timeoutMs_));
      return false;
    }
    case platform::HidStatus::Gone:
      // Unplugged: fail at once; the owner closes and looks for it again.
      lost_ = true;
      return false;
    case platform::HidStatus::Failed:
      Report("HIDIO " + device_->Error() + flag);
      return false;
  }
  return false;
}

bool C_HID::SendInquiry(int readStatus, int port, bool async) {
  ClearReport();
  out_[1] = static_cast<uint8_t>(readStatus != 0 ? kNothing : 0);
  out_[2] = static_cast<uint8_t>(port);
  if (!HIDIO(false, kInquirySlot, async)) return false;
  // A report is written whole or not at all: the inquiry is done at once.
  inquirySent_ = inquiryDone_ = 1;
  return true;
}

void C_HID::Abandon() {
  // A read cannot be taken back: a late answer stays queued and is decoded
  // by a later call (its port byte tells whose it is).
  inquirySent_ = inquiryDone_ = readRequested_ = 0;
  ++errorLoop_;
}

int C_HID::CollectAnswer(int result) {
  if (!answerWaiting_) {
    if (!readRequested_) {
      readRequested_ = 1;
      readTried_ = 0;
    }
    if (!HIDIO(true, kAnswerSlot, false)) {
      Report("HID ReadRequest err2");
      return -1;
    }
  }
  if (!answerWaiting_) {
    if (++readTried_ <= readRetrialCount_) return -2;
    Abandon();
    if (errorLoop_ < kSilentErrorLoops) return result;
    Report("HID ReadTried Over c_ErrorLoop=" + std::to_string(errorLoop_) + " ReadTried=" + std::to_string(readTried_));
    return -1;
  }
  inquirySent_ = inquiryDone_ = readRequested_ = errorLoop_ = readTried_ = 0;
  return 0;
}

void C_HID::Report(const std::string& text) {
  if (!quiet_) log_.WriteLog(text, 1);
}

std::optional<int> C_HID::TakeLateAnswer(int readStatus, int getUp, int port) {
  constexpr int kMaxQueued = 64;  // bounds the loop if a box keeps talking
  std::vector<uint8_t> report;
  for (int i = 0; i < kMaxQueued && device_->Read(report, 0) == platform::HidStatus::Done; ++i) {
    // An answer for another port, or with nothing to say, is only late.
    if (static_cast<int>(report.size()) < kMinBoxReport || report[1] != port) continue;
    if (report[2] != kNothing || readStatus != 0 || getUp != 0) lateValues_.push_back(report[2]);
  }
  if (lateValues_.empty()) return std::nullopt;
  const int v = lateValues_.front();
  lateValues_.pop_front();
  lastPortValue_[static_cast<size_t>(port)] = v;
  return v == kNothing && readStatus == 0 && getUp == 0 ? 0 : v;
}

int C_HID::Decode(int readStatus, int getUp, int port) {
  answerWaiting_ = false;
  if (in_[1] != port) {
    Report("HID Port Different");
    return -1;
  }
  const int v = in_[2];
  if (v == kNothing && readStatus == 0 && getUp == 0) return 0;
  lastPortValue_[static_cast<size_t>(port)] = v;
  return v;
}

int C_HID::VantRead(int pReadStatus, int pGetUp, int pPort) {
  if (pPort < 0 || pPort >= kPorts) return -1;
  int result = pReadStatus != 0 ? lastPortValue_[static_cast<size_t>(pPort)] : 0;
  if (whileWrite_ != 0 || !device_ || inLen_ < kMinBoxReport || outLen_ < kMinBoxReport) return result;
  const BusyWhile busy(whileRead_);
  const bool async = syncMode_ == 2;
  if (!async && !answerWaiting_) {
    if (const auto late = TakeLateAnswer(pReadStatus, pGetUp, pPort)) return *late;
  }
  bool sentNow = false;
  if (inquirySent_ == 0 || !async) {
    std::fill(in_.begin(), in_.begin() + 3, 0);
    if (!SendInquiry(pReadStatus, pPort, async)) {
      if (!lost_) Report("HID InquiryRequst err");  // an unplugged box is told once, by the owner
      return async ? result : -1;
    }
    sentNow = true;
  }
  if (!async) {
    // The answer to an earlier inquiry that came late is taken first.
    const bool read = answerWaiting_ || HIDIO(true, kAnswerSlot, true);
    inquirySent_ = inquiryDone_ = 0;
    if (!read) {
      if (!lost_) Report("HID ReadRequest err1");
      return -1;
    }
    return Decode(pReadStatus, pGetUp, pPort);
  }
  const int collected = CollectAnswer(result);
  if (collected == -2) return result;
  if (collected != 0) return collected;
  result = Decode(pReadStatus, pGetUp, pPort);
  // The answer was to an earlier call's inquiry: the next one goes out now.
  if (!sentNow && !SendInquiry(pReadStatus, pPort, true)) Report("HID InquiryRequst err");
  return result;
}

int C_HID::VantWrite(int pValue, int pPort) {
  if (!device_ || pValue <= 0 || pValue >= kNothing || pPort < 0 || pPort >= kPorts || outLen_ < kMinBoxReport) {
    return 0;
  }
  const BusyWhile busy(whileWrite_);
  // Mode 2: a write never overtakes a half-finished exchange; its answer
  // is kept for the next read.
  if (syncMode_ == 2 && readRequested_ != 0 && !answerWaiting_) {
    const int saved = timeoutMs_;
    timeoutMs_ = kWriteWaitMs;
    const bool answered = HIDIO(true, kAnswerSlot, true);
    timeoutMs_ = saved;
    if (!answered) {
      Report("VantWrite wait for ReadRequested Err");
      return 0;
    }
  }
  ClearReport();
  out_[1] = static_cast<uint8_t>(pValue);
  out_[2] = static_cast<uint8_t>(pPort);
  return HIDIO(false, kWriteSlot, true) ? 1 : 0;
}

std::string C_HID::ShuttlePro2Read() {
  if (inLen_ < kMinShuttleReport || !device_ || syncMode_ == 0) return "";
  if (readRequested_ == 0) {
    readRequested_ = 1;
    readTried_ = 0;
  }
  ++readTried_;
  // A report that has arrived is taken before the retry limit is checked.
  if (!HIDIO(true, kInquirySlot, false)) {
    readRequested_ = 0;
    return "";
  }
  if (!answerWaiting_) {
    if (readTried_ > readRetrialCount_) readRequested_ = 0;
    return "";
  }
  answerWaiting_ = false;
  readRequested_ = 0;
  return DecodeShuttle();
}

std::string C_HID::DecodeShuttle() {
  const int ring = in_[1], jog = in_[2], low = in_[4], high = in_[5];
  std::string code;
  const int prevRing = prevReport_[1], prevJog = prevReport_[2];
  prevReport_[1] = ring;
  prevReport_[2] = jog;
  if (ring != prevRing && prevRing != -1) {
    std::string ringCode;
    if (ring == 0) ringCode = "B000";
    if (ring >= 1 && ring <= 7) ringCode = "B" + Three(ring);
    if (ring >= 249) ringCode = "C" + Three(256 - ring);
    if (ringCode != lastShuttleCode_) {
      lastShuttleCode_ = ringCode;
      return ringCode;
    }
  }
  if (low == 0 && high == 0) {
    lastButtonCode_.clear();
  } else {
    static constexpr int kLowBits[] = {1, 2, 4, 8, 16, 32, 64, 128};
    static constexpr int kHighBits[] = {1, 32, 64, 2, 4, 8, 16};  // D009..D015
    for (int i = 0; i < 8; ++i) {
      if (low == kLowBits[i]) code = "D" + Three(i + 1);
    }
    for (int i = 0; i < 7; ++i) {
      if (high == kHighBits[i]) code = "D" + Three(i + 9);
    }
    if (code != lastButtonCode_) {
      lastButtonCode_ = code;
      return code;
    }
  }
  if (jog == prevJog || prevJog == -1) return "";
  if (jog > prevJog) return jog - prevJog <= 240 ? "A000" : "A001";
  return prevJog - jog <= 240 ? "A001" : "A000";
}

}  // namespace kavon
