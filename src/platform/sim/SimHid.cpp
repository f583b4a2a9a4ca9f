#include "platform/sim/SimHid.h"

#include <algorithm>
#include <optional>

namespace kavon::platform {
namespace {

constexpr uint8_t kEventInquiry = 0;
constexpr uint8_t kStatusInquiry = 255;
constexpr uint8_t kNothing = 255;

class SimHidDevice : public HidDevice {
 public:
  SimHidDevice(std::shared_ptr<SimHidState> state, FakeClock* clock) : s_(std::move(state)), clock_(clock) {}

  HidStatus Write(const std::vector<uint8_t>& report, int waitMs) override {
    if (!s_->present) return Gone();
    if (s_->writing && s_->wedged) {
      // The write before still holds the box: this one waits, then is not taken.
      Wait(waitMs);
      return HidStatus::Pending;
    }
    s_->writing = false;  // what the wedged box held is dropped
    if (s_->wedged) {
      s_->writing = true;
      Wait(waitMs);
      return HidStatus::Pending;
    }
    if (s_->refuseNext > 0) {
      --s_->refuseNext;
      error_ = "an earlier write has not completed";
      return HidStatus::Pending;
    }
    if (s_->writeHoldMs > 0 && clock_) return SlowWrite(report, std::max(waitMs, 0));
    return Take(report);
  }

  HidStatus Read(std::vector<uint8_t>& report, int waitMs) override {
    ++s_->reads;
    if (!s_->present) return Gone();
    FinishHeldWrite();
    // The answer to a report still going in comes once it is in.
    if (s_->input.empty() && held_ && clock_) {
      const int rest = std::max(0, static_cast<int>(heldUntilMs_ - NowMs()));
      if (rest <= waitMs) {
        Wait(rest);
        waitMs -= rest;
        FinishHeldWrite();
      }
    }
    if (!s_->input.empty()) {
      report = s_->input.front();
      s_->input.pop_front();
      return HidStatus::Done;
    }
    Wait(waitMs);
    // What came late is there once the wait is over.
    for (auto& a : late_) s_->input.push_back(a);
    late_.clear();
    return HidStatus::Pending;
  }

  std::string Error() const override { return error_; }

 private:
  void Wait(int waitMs) {
    if (clock_ && waitMs > 0) clock_->AdvanceMs(waitMs);
  }
  double NowMs() const { return clock_->SteadySeconds() * 1000.0; }

  // A slow box takes each report writeHoldMs after it began: one still
  // going delays the next, within the wait; a report taken on goes in when
  // its time is up, whoever asks.
  HidStatus SlowWrite(const std::vector<uint8_t>& report, int waitMs) {
    if (held_) {
      const auto rest = static_cast<int>(heldUntilMs_ - NowMs());
      if (rest > waitMs) {
        Wait(waitMs);
        return HidStatus::Pending;  // not taken
      }
      Wait(rest);
      waitMs -= std::max(rest, 0);
      FinishHeldWrite();
    }
    held_ = report;
    heldUntilMs_ = NowMs() + s_->writeHoldMs;
    if (s_->writeHoldMs > waitMs) {
      Wait(waitMs);
      return HidStatus::Pending;  // taken: it goes in by itself
    }
    Wait(s_->writeHoldMs);
    FinishHeldWrite();
    return HidStatus::Done;
  }
  void FinishHeldWrite() {
    if (!held_ || !clock_ || NowMs() < heldUntilMs_) return;
    const std::vector<uint8_t> report = std::move(*held_);
    held_.reset();
    Take(report);
  }

  HidStatus Take(const std::vector<uint8_t>& report) {
    if (!s_->box || report.size() < 3) return HidStatus::Done;
    s_->reportIds.push_back(report[0]);
    // A box with numbered reports ignores a report with another ID.
    if (report[0] != s_->info.outputReportId) return HidStatus::Done;
    const uint8_t value = report[1], port = report[2];
    if (value != kEventInquiry && value != kStatusInquiry) {
      s_->written.emplace_back(value, port);
      return HidStatus::Done;
    }
    ++s_->inquiries;
    if (s_->silent) return HidStatus::Done;
    std::vector<uint8_t> answer(static_cast<size_t>(s_->info.inputLength), 0);
    answer[1] = static_cast<uint8_t>(s_->wrongPort ? port + 4 : port);
    answer[2] = kNothing;
    if (value == kEventInquiry && !s_->codes.empty()) {
      answer[2] = static_cast<uint8_t>(s_->codes.front());
      s_->codes.pop_front();
    }
    // A slow box: its answer comes after the wait of this inquiry is over.
    if (s_->lateAnswers > 0) {
      --s_->lateAnswers;
      late_.push_back(answer);
      return HidStatus::Done;
    }
    for (auto& a : late_) s_->input.push_back(a);
    late_.clear();
    s_->input.push_back(answer);
    return HidStatus::Done;
  }

  HidStatus Gone() {
    error_ = "No such device";
    return HidStatus::Gone;
  }

  std::shared_ptr<SimHidState> s_;
  FakeClock* clock_;
  std::string error_;
  std::deque<std::vector<uint8_t>> late_;
  std::optional<std::vector<uint8_t>> held_;  // a slow box's report still going in
  double heldUntilMs_ = 0;
};

}  // namespace

SimHidState& SimHidSystem::Add(const HidDeviceInfo& info) {
  auto state = std::make_shared<SimHidState>();
  state->info = info;
  if (state->info.path.empty()) state->info.path = "sim:hid" + std::to_string(devices_.size());
  devices_.push_back(state);
  return *state;
}

SimHidState& SimHidSystem::AddBox(uint16_t vendorId, uint16_t productId, int inputLength, int outputLength,
                                  uint8_t reportId) {
  SimHidState& box = Add({"", vendorId, productId, inputLength, outputLength, 0xFF000001, reportId});
  box.box = true;
  return box;
}

SimHidState& SimHidSystem::AddShuttle() { return Add({"", 0x0B33, 0x0030, 6, 0, 0x000C0001}); }

std::vector<HidDeviceInfo> SimHidSystem::List() {
  std::vector<HidDeviceInfo> present;
  for (const auto& d : devices_) {
    if (d->present) present.push_back(d->info);
  }
  return present;
}

std::unique_ptr<HidDevice> SimHidSystem::Open(const HidDeviceInfo& info, std::string& reason) {
  for (const auto& d : devices_) {
    if (d->info.path != info.path) continue;
    if (!d->present) break;
    if (d->denied) {
      reason = "Permission denied";
      return nullptr;
    }
    return std::make_unique<SimHidDevice>(d, clock_);
  }
  reason = "No such device";
  return nullptr;
}

}  // namespace kavon::platform
