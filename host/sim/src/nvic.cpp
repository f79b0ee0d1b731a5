#include "nvic.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace korvel::sim {

namespace {
// The LPC17xx implements the top five bits of every priority field.
constexpr uint8_t kPriorityMask = 0xF8;
constexpr uint64_t kIrqBits = ((uint64_t{1} << kIrqCount) - 1) << exc::FirstIrq;
constexpr uint32_t kSysTickEnable = 1, kSysTickInt = 2, kSysTickCountFlag = 1u << 16;

// Bits of the 32 interrupts that one ISER/ICER/ISPR/ICPR/IABR word covers.
uint64_t irqWordBits(uint32_t word, uint32_t value) {
  uint64_t bits = uint64_t{value} << (exc::FirstIrq + 32 * word);
  return bits & kIrqBits;
}
uint32_t irqWordValue(uint64_t bits, uint32_t word) {
  return static_cast<uint32_t>((bits & kIrqBits) >> (exc::FirstIrq + 32 * word));
}
}  // namespace

void Nvic::reset() {
  pending_ = enabled_ = active_ = 0;
  // Fixed-priority exceptions are always enabled; MemManage, BusFault and UsageFault start
  // disabled (SHCSR) and escalate to HardFault until the firmware enables them.
  enabled_ = (1u << exc::NMI) | (1u << exc::HardFault) | (1u << exc::SVCall) |
             (1u << exc::PendSV) | (1u << exc::SysTick);
  cfsr_ = hfsr_ = mmfar_ = bfar_ = 0;
  priority_.fill(0);
  vtor_ = prigroup_ = scr_ = shcsr_ = 0;
  ccr_ = 0x200;
  resetRequest_ = false;
  stCtrl_ = stLoad_ = stVal_ = 0;
  markPending(lines_ & kIrqBits);  // lines still asserted by peripherals
}

void Nvic::markPending(uint64_t bits) {
  uint64_t fresh = bits & ~pending_;
  pending_ |= bits;
  if (fresh && onPending_) onPending_();
}

void Nvic::setLine(int irq, bool level) {
  uint64_t bit = uint64_t{1} << (exc::FirstIrq + irq);
  if (level) {
    lines_ |= bit;
    if (!(active_ & bit)) markPending(bit);
  } else {
    lines_ &= ~bit;
  }
}

void Nvic::pend(int exception) { markPending(uint64_t{1} << exception); }

int Nvic::rawPriority(int exception) const {
  switch (exception) {
    case 1: return -3;  // reset
    case exc::NMI: return -2;
    case exc::HardFault: return -1;
    default: return priority_[exception];
  }
}

int Nvic::groupPriority(int exception) const {
  int p = rawPriority(exception);
  if (p < 0) return p;
  // PRIGROUP splits the field: bits above the split preempt, the rest only order pending ones.
  uint32_t subBits = prigroup_ + 1;
  return p & ~((1 << subBits) - 1) & 0xFF;
}

int Nvic::nextException(bool primask, uint32_t basepri) const {
  uint64_t ready = pending_ & enabled_ & ~active_;
  if (!ready) return 0;
  int best = 0, bestPrio = 0, bestRaw = 0;
  for (int e = 2; e < kExceptionCount; ++e) {
    if (!((ready >> e) & 1)) continue;
    int p = groupPriority(e), raw = rawPriority(e);
    if (!best || p < bestPrio || (p == bestPrio && raw < bestRaw)) best = e, bestPrio = p, bestRaw = raw;
  }
  return bestPrio < executionPriority(primask, basepri, false) ? best : 0;
}

int Nvic::executionPriority(bool primask, uint32_t basepri, bool faultmask) const {
  // The most urgent active exception, raised further by the masks.
  int running = 256;
  for (int e = 1; e < kExceptionCount; ++e)
    if ((active_ >> e) & 1) running = std::min(running, groupPriority(e));
  if (basepri & kPriorityMask) running = std::min<int>(running, basepri & kPriorityMask & ~((1 << (prigroup_ + 1)) - 1));
  if (primask) running = std::min(running, 0);
  if (faultmask) running = std::min(running, -1);
  return running;
}

namespace {
// CFSR bits: MMFSR [7:0], BFSR [15:8], UFSR [31:16]; HFSR bits.
constexpr uint32_t kIaccviol = 1u << 0, kIbuserr = 1u << 8, kPreciserr = 1u << 9, kBfarValid = 1u << 15,
                   kUndefinstr = 1u << 16, kInvstate = 1u << 17, kInvpc = 1u << 18, kNocp = 1u << 19,
                   kUnaligned = 1u << 24, kDivbyzero = 1u << 25, kForced = 1u << 30;
}  // namespace

int Nvic::takeFault(const FaultEvent& fault, bool primask, uint32_t basepri, bool faultmask) {
  int e = exc::UsageFault;
  uint32_t bits = 0;
  switch (fault.kind) {
    case FaultKind::UndefinedInstruction: bits = kUndefinstr; break;
    case FaultKind::InvalidState: bits = kInvstate; break;
    case FaultKind::InvalidPc: bits = kInvpc; break;
    case FaultKind::NoCoprocessor: bits = kNocp; break;
    case FaultKind::Unaligned: bits = kUnaligned; break;
    case FaultKind::DivideByZero: bits = kDivbyzero; break;
    case FaultKind::PreciseBus:
      e = exc::BusFault, bits = kPreciserr | kBfarValid;
      bfar_ = fault.address;
      break;
    case FaultKind::InstructionBus: e = exc::BusFault, bits = kIbuserr; break;
    case FaultKind::InstructionAccess: e = exc::MemManage, bits = kIaccviol; break;
    case FaultKind::Other: e = exc::HardFault; break;
  }
  cfsr_ |= bits;
  int running = executionPriority(primask, basepri, faultmask);
  if (e != exc::HardFault && (!enabled(e) || groupPriority(e) >= running)) {
    e = exc::HardFault;
    hfsr_ |= kForced;
  }
  if (e == exc::HardFault && running <= -1) return 0;  // lockup
  return e;
}

void Nvic::activate(int exception) {
  uint64_t bit = uint64_t{1} << exception;
  pending_ &= ~bit;
  active_ |= bit;
}

void Nvic::deactivate(int exception) {
  uint64_t bit = uint64_t{1} << exception;
  active_ &= ~bit;
  // A level still asserted pends the interrupt again as soon as its handler returns.
  if (lines_ & bit) markPending(bit);
}

uint32_t Nvic::icsr() const {
  uint32_t v = 0;
  for (int e = 1; e < kExceptionCount; ++e)
    if ((active_ >> e) & 1) { v |= e; break; }
  uint64_t ready = pending_ & enabled_ & ~active_;
  for (int e = 2; e < kExceptionCount; ++e)
    if ((ready >> e) & 1) { v |= uint32_t(e) << 12; break; }
  if (pending_ & kIrqBits) v |= 1u << 22;
  if (pending(exc::SysTick)) v |= 1u << 26;
  if (pending(exc::PendSV)) v |= 1u << 28;
  if (pending(exc::NMI)) v |= 1u << 31;
  // RETTOBASE: at most one exception active.
  if (active_ && !(active_ & (active_ - 1))) v |= 1u << 11;
  return v;
}

uint32_t Nvic::read(uint32_t offset, uint32_t size, Access access) {
  uint32_t word = offset & ~3u;
  uint32_t v = 0;
  if (word >= 0x400 && word < 0x400 + 4 * ((kIrqCount + 3) / 4)) {
    for (int i = 0; i < 4; ++i) {
      int irq = int(word - 0x400) + i;
      if (irq < kIrqCount) v |= uint32_t(priority_[exc::FirstIrq + irq]) << (8 * i);
    }
    return laneRead(v, offset, size);
  }
  if (word >= 0xD18 && word <= 0xD20) {
    for (int i = 0; i < 4; ++i) v |= uint32_t(priority_[4 + (word - 0xD18) + i]) << (8 * i);
    return laneRead(v, offset, size);
  }
  switch (word) {
    case 0x004: v = 1; break;  // ICTR: 33..64 interrupt lines
    case 0x010:
      v = stCtrl_;
      // COUNTFLAG clears when the firmware reads it.
      if (access == Access::Firmware) stCtrl_ &= ~kSysTickCountFlag;
      break;
    case 0x014: v = stLoad_; break;
    case 0x018: v = stVal_; break;
    case 0x01C: v = 0x000F423F; break;  // 10 ms at 100 MHz
    case 0x100: case 0x104: v = irqWordValue(enabled_, (word - 0x100) / 4); break;
    case 0x180: case 0x184: v = irqWordValue(enabled_, (word - 0x180) / 4); break;
    case 0x200: case 0x204: v = irqWordValue(pending_, (word - 0x200) / 4); break;
    case 0x280: case 0x284: v = irqWordValue(pending_, (word - 0x280) / 4); break;
    case 0x300: case 0x304: v = irqWordValue(active_, (word - 0x300) / 4); break;
    case 0xD00: v = 0x412FC230; break;  // CPUID: Cortex-M3 r2p0
    case 0xD04: v = icsr(); break;
    case 0xD08: v = vtor_; break;
    case 0xD0C: v = 0xFA050000 | (prigroup_ << 8); break;
    case 0xD10: v = scr_; break;
    case 0xD14: v = ccr_; break;
    case 0xD24: {
      // Enables as written; the active bits follow the exceptions really running.
      static constexpr std::pair<int, int> kActiveBits[] = {{exc::MemManage, 0}, {exc::BusFault, 1}, {exc::UsageFault, 3},
                                                            {exc::SVCall, 7}, {exc::PendSV, 10}, {exc::SysTick, 11}};
      v = shcsr_;
      for (auto [e, bit] : kActiveBits) v |= active(e) ? 1u << bit : 0u;
      break;
    }
    case 0xD28: v = cfsr_; break;
    case 0xD2C: v = hfsr_; break;
    case 0xD34: v = mmfar_; break;
    case 0xD38: v = bfar_; break;
    default: v = 0; break;
  }
  return laneRead(v, offset, size);
}

void Nvic::write(uint32_t offset, uint32_t value, uint32_t size, Access access) {
  uint32_t word = offset & ~3u;
  if (word >= 0x400 && word < 0x400 + 4 * ((kIrqCount + 3) / 4)) {
    for (uint32_t i = 0; i < size; ++i) {
      int irq = int(offset - 0x400 + i);
      if (irq < kIrqCount) priority_[exc::FirstIrq + irq] = uint8_t(value >> (8 * i)) & kPriorityMask;
    }
    return;
  }
  if (word >= 0xD18 && word <= 0xD20) {
    for (uint32_t i = 0; i < size; ++i) {
      int e = int(4 + offset - 0xD18 + i);
      priority_[e] = uint8_t(value >> (8 * i)) & kPriorityMask;
    }
    return;
  }
  if (word == 0xD28 || word == 0xD2C) {
    // Write-one-to-clear, also by byte or half-word (MMFSR, BFSR, UFSR): only the lanes written.
    uint32_t ones = laneMerge(0, offset, value, size);
    (word == 0xD28 ? cfsr_ : hfsr_) &= ~ones;
    return;
  }
  if (size != 4) value = laneMerge(read(word, 4, Access::Debugger), offset, value, size);
  switch (word) {
    case 0x010: stCtrl_ = (stCtrl_ & kSysTickCountFlag) | (value & 7); break;
    case 0x014: stLoad_ = value & 0xFFFFFF; break;
    case 0x018: stVal_ = 0; stCtrl_ &= ~kSysTickCountFlag; break;  // any write clears
    case 0x100: case 0x104: enabled_ |= irqWordBits((word - 0x100) / 4, value); break;
    case 0x180: case 0x184: enabled_ &= ~irqWordBits((word - 0x180) / 4, value); break;
    case 0x200: case 0x204: markPending(irqWordBits((word - 0x200) / 4, value)); break;
    case 0x280: case 0x284: {
      uint64_t bits = irqWordBits((word - 0x280) / 4, value);
      pending_ &= ~bits;
      markPending(bits & lines_ & ~active_);  // an asserted level pends again at once
      break;
    }
    case 0x300: case 0x304:
      // IABR is read-only for the firmware; the plug-in may set it to model a running handler.
      if (access == Access::Debugger) {
        uint64_t bits = irqWordBits((word - 0x300) / 4, 0xFFFFFFFF);
        active_ = (active_ & ~bits) | irqWordBits((word - 0x300) / 4, value);
      }
      break;
    case 0xD04:
      if (value & (1u << 31)) pend(exc::NMI);
      if (value & (1u << 28)) pend(exc::PendSV);
      if (value & (1u << 27)) pending_ &= ~(uint64_t{1} << exc::PendSV);
      if (value & (1u << 26)) pend(exc::SysTick);
      if (value & (1u << 25)) pending_ &= ~(uint64_t{1} << exc::SysTick);
      break;
    case 0xD08: vtor_ = value & 0x3FFFFF80; break;
    case 0xD0C:
      if ((value >> 16) == 0x05FA) {
        prigroup_ = (value >> 8) & 7;
        if (value & 4) resetRequest_ = true;
      }
      break;
    case 0xD10: scr_ = value & 0x16; break;
    case 0xD14: ccr_ = value & 0x31B; break;
    case 0xD24: {
      shcsr_ = value & 0x70000;  // MEMFAULTENA, BUSFAULTENA, USGFAULTENA
      uint64_t faults = (uint64_t{1} << exc::MemManage) | (uint64_t{1} << exc::BusFault) | (uint64_t{1} << exc::UsageFault);
      enabled_ = (enabled_ & ~faults) | (uint64_t((value >> 16) & 7) << exc::MemManage);
      break;
    }
    case 0xD34: mmfar_ = value; break;
    case 0xD38: bfar_ = value; break;
    case 0xF00: if ((value & 0x1FF) < kIrqCount) pend(exc::FirstIrq + int(value & 0x1FF)); break;
    default: break;
  }
}

void Nvic::advanceSysTick(uint64_t cycles) {
  if (!(stCtrl_ & kSysTickEnable) || cycles == 0) return;
  // The counter reloads from LOAD after reaching zero; each 1 -> 0 step is an event.
  uint64_t period = uint64_t(stLoad_) + 1;
  if (stLoad_ == 0) return;  // a zero reload stops the counter
  uint64_t v = stVal_;
  if (cycles < v) {
    stVal_ = uint32_t(v - cycles);
    return;
  }
  if (v == 0) {  // freshly written: the first tick loads
    cycles -= 1;
    v = stLoad_;
    if (cycles < v) { stVal_ = uint32_t(v - cycles); return; }
  }
  cycles -= v;  // reached zero once
  uint64_t rest = cycles % period;
  stVal_ = rest == 0 ? 0 : uint32_t(period - rest);
  stCtrl_ |= kSysTickCountFlag;
  if (stCtrl_ & kSysTickInt) pend(exc::SysTick);
}

uint64_t Nvic::cyclesToSysTickEvent() const {
  if (!(stCtrl_ & kSysTickEnable) || !(stCtrl_ & kSysTickInt) || stLoad_ == 0) return UINT64_MAX;
  return stVal_ == 0 ? uint64_t(stLoad_) + 1 : stVal_;
}

}  // namespace korvel::sim
