#include "timers.h"

#include <algorithm>

namespace korvel::sim {

namespace {
enum : uint32_t {
  kIr = 0x00, kTcr = 0x04, kTc = 0x08, kPr = 0x0C, kPc = 0x10, kMcr = 0x14, kMr0 = 0x18,
  kMr3 = 0x24, kCcr = 0x28, kCr0 = 0x2C, kCr1 = 0x30, kEmr = 0x3C, kCtcr = 0x70,
};
constexpr uint32_t kEnable = 1, kCounterReset = 2;
bool interruptOn(uint32_t mcr, int k) { return mcr & (1u << (3 * k)); }
bool resetOn(uint32_t mcr, int k) { return mcr & (2u << (3 * k)); }
bool stopOn(uint32_t mcr, int k) { return mcr & (4u << (3 * k)); }
}  // namespace

void Timer::reset() {
  ir_ = tcr_ = tc_ = pr_ = pc_ = mcr_ = ccr_ = emr_ = ctcr_ = 0;
  for (auto& m : mr_) m = 0;
  cr_[0] = cr_[1] = 0;
  remainder_ = 0;
  updateLine();
  if (onMatchOutputsChanged) onMatchOutputsChanged();
}

void Timer::updateLine() {
  if (onLine) onLine((ir_ & 0x3F) != 0);
}

void Timer::match(int k) {
  if (interruptOn(mcr_, k)) ir_ |= 1u << k;
  if (stopOn(mcr_, k)) tcr_ &= ~kEnable;
  // External match control: 1 clears, 2 sets, 3 toggles MATn.k.
  uint32_t em = emr_;
  switch ((emr_ >> (4 + 2 * k)) & 3) {
    case 1: em &= ~(1u << k); break;
    case 2: em |= 1u << k; break;
    case 3: em ^= 1u << k; break;
    default: break;
  }
  if (em != emr_) {
    emr_ = em;
    if (onMatchOutputsChanged) onMatchOutputsChanged();
  }
}

void Timer::capturePin(int input, bool level) {
  if (input < 0 || input > 1) return;
  uint32_t irBefore = ir_;
  // Counter mode: CTCR 1 counts rising, 2 falling, 3 both edges of the CAP input it selects.
  if (counterMode() && int((ctcr_ >> 2) & 3) == input && (tcr_ & kEnable) && !(tcr_ & kCounterReset)) {
    uint32_t mode = ctcr_ & 3;
    if (mode == 3 || (mode == 1 && level) || (mode == 2 && !level)) countTc(1);
  }
  uint32_t edges = (ccr_ >> (3 * input)) & 7;
  if ((level && (edges & 1)) || (!level && (edges & 2))) {
    cr_[input] = tc_;
    if (edges & 4) ir_ |= 1u << (4 + input);
  }
  if (ir_ != irBefore) updateLine();
}

void Timer::countTc(uint64_t n) {
  // The counter reaches a match value, raises its events, and on the next tick either resets
  // (reset on match: the period is MR + 1) or counts on.
  while (n > 0 && (tcr_ & kEnable)) {
    bool resetNow = false;
    for (int k = 0; k < 4; ++k)
      if (resetOn(mcr_, k) && tc_ == mr_[k]) resetNow = true;
    if (resetNow) {
      tc_ = 0;
      --n;
      for (int k = 0; k < 4; ++k)
        if (mr_[k] == 0) match(k);
      continue;
    }
    uint64_t step = n;
    for (int k = 0; k < 4; ++k) {
      if (!matchActive(k)) continue;
      uint32_t d = mr_[k] - tc_;  // wraps like the 32-bit counter
      if (d != 0) step = std::min<uint64_t>(step, d);
    }
    tc_ += uint32_t(step);
    n -= step;
    for (int k = 0; k < 4; ++k)
      if (matchActive(k) && tc_ == mr_[k]) match(k);
  }
}

void Timer::advance(uint64_t cycles, uint32_t divider) {
  // In counter mode the CAP pin's edges count, not the peripheral clock.
  if (!(tcr_ & kEnable) || (tcr_ & kCounterReset) || counterMode()) {
    remainder_ = 0;
    return;
  }
  uint64_t total = remainder_ + cycles;
  uint64_t pclks = total / divider;
  remainder_ = total % divider;
  uint64_t period = uint64_t(pr_) + 1;
  uint64_t sum = pc_ + pclks;
  pc_ = uint32_t(sum % period);
  uint32_t irBefore = ir_;
  countTc(sum / period);
  if (ir_ != irBefore) updateLine();
}

uint64_t Timer::cyclesToEvent(uint32_t divider, bool pinsWatched) const {
  if (!(tcr_ & kEnable) || (tcr_ & kCounterReset) || counterMode()) return UINT64_MAX;
  // Interrupts and match outputs that change a pin must happen on time.
  auto due = [&](int k) { return interruptOn(mcr_, k) || (pinsWatched && ((emr_ >> (4 + 2 * k)) & 3)); };
  uint64_t best = UINT64_MAX;
  for (int k = 0; k < 4; ++k) {
    if (!due(k)) continue;
    uint32_t d = mr_[k] - tc_;
    if (d == 0) continue;
    best = std::min<uint64_t>(best, d);
  }
  if (best == UINT64_MAX) {
    // Only a reset is coming (or a match at the current count): look again soon.
    bool any = false;
    for (int k = 0; k < 4; ++k) any |= due(k);
    if (!any) return UINT64_MAX;
    best = 1;
  }
  uint64_t period = uint64_t(pr_) + 1;
  uint64_t pclks = (best - 1) * period + (period - pc_);
  uint64_t cycles = pclks * divider;
  return cycles > remainder_ ? cycles - remainder_ : 1;
}

uint32_t Timer::read(uint32_t offset, uint32_t size, Access) {
  uint32_t v = 0, word = offset & ~3u;
  switch (word) {
    case kIr: v = ir_; break;
    case kTcr: v = tcr_; break;
    case kTc: v = tc_; break;
    case kPr: v = pr_; break;
    case kPc: v = pc_; break;
    case kMcr: v = mcr_; break;
    case kCcr: v = ccr_; break;
    case kCr0: v = cr_[0]; break;
    case kCr1: v = cr_[1]; break;
    case kEmr: v = emr_; break;
    case kCtcr: v = ctcr_; break;
    default:
      if (word >= kMr0 && word <= kMr3) v = mr_[(word - kMr0) / 4];
      break;
  }
  return laneRead(v, offset, size);
}

void Timer::write(uint32_t offset, uint32_t value, uint32_t size, Access) {
  uint32_t word = offset & ~3u;
  uint32_t v = size == 4 ? value : laneMerge(read(word, 4, Access::Debugger), offset, value, size);
  switch (word) {
    case kIr: ir_ &= ~v; updateLine(); break;  // write one to clear
    case kTcr:
      tcr_ = v & 3;
      if (tcr_ & kCounterReset) tc_ = 0, pc_ = 0;
      break;
    case kTc: tc_ = v; break;
    case kPr: pr_ = v; break;
    case kPc: pc_ = v; break;
    case kMcr: mcr_ = v & 0xFFF; break;
    case kCcr: ccr_ = v & 0x3F; break;
    case kEmr: {
      uint32_t before = emr_;
      emr_ = v & 0xFFF;
      if ((before ^ emr_) & 0xF && onMatchOutputsChanged) onMatchOutputsChanged();
      break;
    }
    case kCtcr: ctcr_ = v & 0xF; break;
    default:
      if (word >= kMr0 && word <= kMr3) mr_[(word - kMr0) / 4] = v;
      break;
  }
}

// ---- Repetitive interrupt timer --------------------------------------------------------------

namespace {
enum : uint32_t { kCompVal = 0x0, kMask = 0x4, kCtrl = 0x8, kCounter = 0xC };
constexpr uint32_t kRitInt = 1, kRitEnClr = 2, kRitEn = 8;
}  // namespace

void RepetitiveTimer::reset() {
  compval_ = 0xFFFFFFFF;
  mask_ = 0;
  ctrl_ = 0xC;
  counter_ = 0;
  remainder_ = 0;
  if (onLine) onLine(false);
}

void RepetitiveTimer::advance(uint64_t cycles, uint32_t divider) {
  if (!(ctrl_ & kRitEn)) return;
  uint64_t total = remainder_ + cycles;
  uint64_t n = total / divider;
  remainder_ = total % divider;
  uint32_t target = compval_ & ~mask_;
  bool hit = false;
  while (n > 0) {
    // Counts up to the compare value, interrupts there and, with RITENCLR, restarts from 0.
    uint32_t d = target - (counter_ & ~mask_);
    if (d == 0 && (ctrl_ & kRitEnClr)) {
      counter_ = 0;
      --n;
      continue;
    }
    if (d == 0) d = 0xFFFFFFFF;  // passed it; a full wrap to meet it again
    if (n < d) {
      counter_ += uint32_t(n);
      break;
    }
    counter_ += d;
    n -= d;
    hit = true;
  }
  if (hit) {
    ctrl_ |= kRitInt;
    if (onLine) onLine(true);
  }
}

uint64_t RepetitiveTimer::cyclesToEvent(uint32_t divider) const {
  if (!(ctrl_ & kRitEn)) return UINT64_MAX;
  uint32_t d = (compval_ & ~mask_) - (counter_ & ~mask_);
  uint64_t pclks = d == 0 ? ((ctrl_ & kRitEnClr) ? uint64_t(compval_ & ~mask_) + 1 : 0x100000000ull) : d;
  uint64_t cycles = pclks * divider;
  return cycles > remainder_ ? cycles - remainder_ : 1;
}

uint32_t RepetitiveTimer::read(uint32_t offset, uint32_t size, Access) {
  uint32_t v = 0;
  switch (offset & ~3u) {
    case kCompVal: v = compval_; break;
    case kMask: v = mask_; break;
    case kCtrl: v = ctrl_; break;
    case kCounter: v = counter_; break;
  }
  return laneRead(v, offset, size);
}

void RepetitiveTimer::write(uint32_t offset, uint32_t value, uint32_t size, Access) {
  uint32_t word = offset & ~3u;
  uint32_t v = size == 4 ? value : laneMerge(read(word, 4, Access::Debugger), offset, value, size);
  switch (word) {
    case kCompVal: compval_ = v; break;
    case kMask: mask_ = v; break;
    case kCtrl:
      // RITINT is cleared by writing one to it.
      ctrl_ = (v & 0xE) | ((ctrl_ & kRitInt) & ~(v & kRitInt));
      if (onLine) onLine(ctrl_ & kRitInt);
      break;
    case kCounter: counter_ = v; break;
  }
}

}  // namespace korvel::sim
