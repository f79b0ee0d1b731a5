#include "pwm.h"

#include <algorithm>

namespace korvel::sim {

namespace {
enum : uint32_t {
  kIr = 0x00, kTcr = 0x04, kTc = 0x08, kPr = 0x0C, kPc = 0x10, kMcr = 0x14, kMr0 = 0x18, kMr3 = 0x24,
  kCcr = 0x28, kCr0 = 0x2C, kCr1 = 0x30, kMr4 = 0x40, kMr6 = 0x48, kPcr = 0x4C, kLer = 0x50, kCtcr = 0x70,
};
constexpr uint32_t kEnable = 1, kCounterReset = 2;
// IR: MR0..3 at bits 0..3, the captures at 4..5, MR4..6 at 8..10.
constexpr uint32_t irBit(int k) { return k < 4 ? 1u << k : 1u << (k + 4); }
bool interruptOn(uint32_t mcr, int k) { return mcr & (1u << (3 * k)); }
bool resetOn(uint32_t mcr, int k) { return mcr & (2u << (3 * k)); }
bool stopOn(uint32_t mcr, int k) { return mcr & (4u << (3 * k)); }
int matchIndex(uint32_t word) {
  if (word >= kMr0 && word <= kMr3) return int(word - kMr0) / 4;
  if (word >= kMr4 && word <= kMr6) return 4 + int(word - kMr4) / 4;
  return -1;
}
bool doubleEdge(uint32_t pcr, int n) { return n >= 2 && (pcr & (1u << n)); }
}  // namespace

void Pwm::reset() {
  ir_ = tcr_ = tc_ = pr_ = pc_ = mcr_ = ccr_ = pcr_ = ler_ = ctcr_ = 0;
  for (int k = 0; k < kMatches; ++k) mr_[k] = shadow_[k] = 0;
  cr_[0] = cr_[1] = 0;
  remainder_ = 0;
  setOutputs(0);
  updateLine();
}

void Pwm::updateLine() {
  if (onLine) onLine((ir_ & 0x73F) != 0);
}

void Pwm::setOutputs(uint32_t bits) {
  if (bits == outputs_) return;
  outputs_ = bits;
  if (onOutputsChanged) onOutputsChanged();
}

void Pwm::cycleStart() {
  // Single-edge outputs go high as a cycle begins, unless their match value is 0.
  uint32_t out = outputs_;
  for (int n = 1; n <= kOutputs; ++n)
    if (!doubleEdge(pcr_, n)) out = mr_[n] != 0 ? out | (1u << n) : out & ~(1u << n);
  setOutputs(out);
}

void Pwm::match(int k) {
  if (interruptOn(mcr_, k)) ir_ |= irBit(k);
  if (stopOn(mcr_, k)) tcr_ &= ~kEnable;
  uint32_t set = 0, clear = 0;
  for (int n = 1; n <= kOutputs; ++n) {
    if (doubleEdge(pcr_, n) && k == n - 1) set |= 1u << n;
    if (k == n) clear |= 1u << n;  // a clear wins over a set at the same count
  }
  setOutputs((outputs_ | set) & ~clear);
  if (k == 0 && pwmMode() && ler_) {
    // The new cycle uses the match values whose latch the firmware enabled.
    for (int j = 0; j < kMatches; ++j)
      if (ler_ & (1u << j)) mr_[j] = shadow_[j];
    ler_ = 0;
  }
}

void Pwm::countTc(uint64_t n) {
  while (n > 0 && (tcr_ & kEnable)) {
    bool resetNow = false;
    for (int k = 0; k < kMatches; ++k)
      if (resetOn(mcr_, k) && tc_ == mr_[k]) resetNow = true;
    if (resetNow) {
      tc_ = 0;
      --n;
      if (pwmMode()) cycleStart();
      for (int k = 0; k < kMatches; ++k)
        if (mr_[k] == 0) match(k);
      continue;
    }
    uint64_t step = n;
    for (int k = 0; k < kMatches; ++k) {
      uint32_t d = mr_[k] - tc_;  // wraps like the 32-bit counter
      if (d != 0) step = std::min<uint64_t>(step, d);
    }
    tc_ += uint32_t(step);
    n -= step;
    for (int k = 0; k < kMatches; ++k)
      if (tc_ == mr_[k]) match(k);
  }
}

void Pwm::advance(uint64_t cycles, uint32_t divider) {
  if (!(tcr_ & kEnable) || (tcr_ & kCounterReset)) {
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

uint64_t Pwm::cyclesToEvent(uint32_t divider, bool pinsWatched) const {
  if (!(tcr_ & kEnable) || (tcr_ & kCounterReset)) return UINT64_MAX;
  bool interrupts = (mcr_ & 0x49249) != 0;  // any MRn interrupt bit
  bool pins = pinsWatched && pwmMode() && (pcr_ & 0x7E00);
  if (!interrupts && !pins) return UINT64_MAX;
  uint64_t best = UINT64_MAX;
  for (int k = 0; k < kMatches; ++k) {
    uint32_t d = mr_[k] - tc_;
    if (d != 0) best = std::min<uint64_t>(best, d);
    if (d == 0 && resetOn(mcr_, k)) best = 1;
  }
  if (best == UINT64_MAX) best = 1;
  uint64_t period = uint64_t(pr_) + 1;
  uint64_t cycles = ((best - 1) * period + (period - pc_)) * divider;
  return cycles > remainder_ ? cycles - remainder_ : 1;
}

uint32_t Pwm::read(uint32_t offset, uint32_t size, Access) {
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
    case kPcr: v = pcr_; break;
    case kLer: v = ler_; break;
    case kCtcr: v = ctcr_; break;
    default:
      if (int k = matchIndex(word); k >= 0) v = shadow_[k];
      break;
  }
  return laneRead(v, offset, size);
}

void Pwm::write(uint32_t offset, uint32_t value, uint32_t size, Access) {
  uint32_t word = offset & ~3u;
  uint32_t v = size == 4 ? value : laneMerge(read(word, 4, Access::Debugger), offset, value, size);
  switch (word) {
    case kIr: ir_ &= ~v; updateLine(); break;  // write one to clear
    case kTcr: {
      bool wasCounting = (tcr_ & kEnable) && !(tcr_ & kCounterReset);
      tcr_ = v & 0xB;
      if (tcr_ & kCounterReset) tc_ = 0, pc_ = 0;
      // Starting in PWM mode begins a cycle: the single-edge outputs go high.
      if (!wasCounting && (tcr_ & kEnable) && !(tcr_ & kCounterReset) && pwmMode() && tc_ == 0) cycleStart();
      break;
    }
    case kTc: tc_ = v; break;
    case kPr: pr_ = v; break;
    case kPc: pc_ = v; break;
    case kMcr: mcr_ = v & 0x1FFFFF; break;
    case kCcr: ccr_ = v & 0x3F; break;
    case kPcr: {
      uint32_t before = pcr_;
      pcr_ = v & 0x7E7C;
      if (before != pcr_ && onOutputsChanged) onOutputsChanged();
      break;
    }
    case kLer: ler_ = v & 0x7F; break;
    case kCtcr: ctcr_ = v & 0xF; break;
    default:
      if (int k = matchIndex(word); k >= 0) {
        shadow_[k] = v;
        // Outside PWM mode a match register takes its new value at once.
        if (!pwmMode()) mr_[k] = v;
      }
      break;
  }
}

}  // namespace korvel::sim
