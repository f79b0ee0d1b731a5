#include "wdt.h"

#include "system_control.h"

namespace korvel::sim {

namespace {
enum : uint32_t { kMod = 0x00, kTc = 0x04, kFeed = 0x08, kTv = 0x0C, kClkSel = 0x10 };
constexpr uint32_t kMinTimeout = 0xFF;  // smaller WDTC values load 0xFF
constexpr uint32_t kClkSelLock = 1u << 31;
constexpr uint64_t kPrescale = 4;  // the counter sees its clock divided by four
}  // namespace

void Watchdog::reset() {
  mod_ = keepTimeoutFlag_ ? kWdTof : 0;
  keepTimeoutFlag_ = false;
  tc_ = tv_ = kMinTimeout;
  clksel_ = 0;
  started_ = feedArmed_ = resetRequest_ = false;
  ticks_.clear();
  updateLine();
}

void Watchdog::updateLine() {
  if (onLine) onLine((mod_ & kWdInt) != 0);
}

void Watchdog::rate(uint32_t coreHz, uint32_t divider, uint64_t* num, uint64_t* den) const {
  switch (clksel_ & 3) {
    case 1: *num = 1, *den = uint64_t(divider) * kPrescale; break;  // PCLK
    case 2: *num = SystemControl::kRtcHz, *den = uint64_t(coreHz) * kPrescale; break;
    default: *num = SystemControl::kIrcHz, *den = uint64_t(coreHz) * kPrescale; break;
  }
}

void Watchdog::timeout() {
  mod_ |= kWdTof;
  if (mod_ & kWdReset) {
    resetRequest_ = true;
    keepTimeoutFlag_ = true;
    if (onResetRequest) onResetRequest();
  } else {
    mod_ |= kWdInt;  // cleared only by a reset: the handler masks the interrupt instead
    updateLine();
  }
  tv_ = tc_;  // counts on from the top, as after a feed
}

void Watchdog::advance(uint64_t cycles, uint32_t coreHz, uint32_t divider) {
  if (!running()) {
    ticks_.clear();
    return;
  }
  uint64_t num, den;
  rate(coreHz, divider, &num, &den);
  uint64_t n = ticks_.advance(cycles, num, den);
  while (n > 0 && running()) {
    if (n < tv_) {
      tv_ -= uint32_t(n);
      return;
    }
    n -= tv_;
    tv_ = 0;
    timeout();
    if (resetRequest_) return;
  }
}

uint64_t Watchdog::cyclesToEvent(uint32_t coreHz, uint32_t divider) const {
  if (!running()) return UINT64_MAX;
  uint64_t num, den;
  rate(coreHz, divider, &num, &den);
  return ticks_.cyclesFor(tv_ ? tv_ : 1, num, den);
}

uint32_t Watchdog::read(uint32_t offset, uint32_t size, Access access) {
  uint32_t v = 0;
  uint32_t word = offset & ~3u;
  // Between 0xAA and 0x55 any other access to the watchdog is a bad feed.
  if (access == Access::Firmware && feedArmed_) {
    feedArmed_ = false;
    if (running()) timeout();
  }
  switch (word) {
    case kMod: v = mod_; break;
    case kTc: v = tc_; break;
    case kTv: v = tv_; break;
    case kClkSel: v = clksel_; break;
    default: break;  // WDFEED is write-only
  }
  return laneRead(v, offset, size);
}

void Watchdog::write(uint32_t offset, uint32_t value, uint32_t size, Access access) {
  uint32_t word = offset & ~3u;
  uint32_t v = laneMerge(0, offset, value, size);
  if (word == kFeed) {
    if (access != Access::Firmware) return;
    uint32_t b = v & 0xFF;
    if (feedArmed_ && b == 0x55) {
      feedArmed_ = false;
      tv_ = tc_;
      ticks_.clear();
      if (mod_ & kWdEn) started_ = true;
    } else if (b == 0xAA) {
      if (feedArmed_ && running()) timeout();  // 0xAA, 0xAA is a bad feed too
      feedArmed_ = true;
    } else if (feedArmed_) {
      feedArmed_ = false;
      if (running()) timeout();
    }
    return;
  }
  if (access == Access::Firmware && feedArmed_) {
    feedArmed_ = false;
    if (running()) timeout();
  }
  switch (word) {
    case kMod:
      // WDEN and WDRESET cannot be cleared by software; WDTOF can; WDINT is read-only.
      mod_ = (mod_ & (kWdEn | kWdReset | kWdInt)) | (v & (kWdEn | kWdReset)) | (mod_ & v & kWdTof);
      break;
    case kTc: tc_ = v < kMinTimeout ? kMinTimeout : v; break;
    case kClkSel:
      if (!(clksel_ & kClkSelLock)) clksel_ = v & (kClkSelLock | 3);
      break;
    default: break;
  }
}

}  // namespace korvel::sim
