// The Cortex-M3 system control space at 0xE000E000: the NVIC (enable, pending, active and
// priority registers for the LPC17xx's 35 interrupts), the system control block (ICSR, VTOR,
// AIRCR, system handler priorities) and SysTick. It decides which exception the core takes
// next; the core does the stacking.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "exceptions.h"
#include "peripheral.h"

namespace korvel::sim {

namespace exc {
inline constexpr int NMI = 2, HardFault = 3, MemManage = 4, BusFault = 5, UsageFault = 6,
                     SVCall = 11, PendSV = 14, SysTick = 15, FirstIrq = 16;
}
inline constexpr int kIrqCount = 35;  // LPC17xx interrupts 0..34
inline constexpr int kExceptionCount = exc::FirstIrq + kIrqCount;

class Nvic : public Peripheral {
 public:
  static constexpr uint32_t kBase = 0xE000E000, kSize = 0x1000;

  uint32_t read(uint32_t offset, uint32_t size, Access access) override;
  void write(uint32_t offset, uint32_t value, uint32_t size, Access access) override;
  void reset() override;

  // A peripheral's interrupt request line. Lines are levels: while one is high and the
  // interrupt is not active it stays pending, as on the real NVIC.
  void setLine(int irq, bool level);
  void pend(int exception);
  // Told whenever something becomes pending, so the core ends its slice and looks.
  void setOnPending(std::function<void()> cb) { onPending_ = std::move(cb); }

  // The exception to take now, given the core's masks, or 0.
  int nextException(bool primask, uint32_t basepri) const;
  // A synchronous fault: records it in CFSR/HFSR/BFAR as the chip does and answers the
  // exception to enter: its own handler when enabled in SHCSR and able to preempt, else
  // HardFault (HFSR.FORCED). 0 means lockup: a fault at HardFault priority or above (in the
  // HardFault or NMI handler, or with FAULTMASK set).
  int takeFault(const FaultEvent& fault, bool primask, uint32_t basepri, bool faultmask);
  // CCR.DIV_0_TRP: SDIV/UDIV by zero fault instead of giving 0.
  bool divideByZeroTraps() const { return ccr_ & kDiv0Trp; }
  // CCR.UNALIGN_TRP: unaligned LDR/STR/LDRH/STRH fault instead of being split.
  bool unalignedTraps() const { return ccr_ & kUnalignTrp; }
  uint32_t cfsr() const { return cfsr_; }
  uint32_t hfsr() const { return hfsr_; }
  static constexpr uint32_t kDiv0Trp = 1u << 4, kUnalignTrp = 1u << 3;

  void activate(int exception);
  void deactivate(int exception);
  bool anyActive() const { return active_ != 0; }
  uint32_t vectorTable() const { return vtor_; }
  // AIRCR.SYSRESETREQ written with the key: the core resets the chip.
  bool takeResetRequest() {
    bool r = resetRequest_;
    resetRequest_ = false;
    return r;
  }

  // SysTick counts processor cycles.
  void advanceSysTick(uint64_t cycles);
  uint64_t cyclesToSysTickEvent() const;  // UINT64_MAX when it raises nothing

  bool pending(int exception) const { return (pending_ >> exception) & 1; }
  bool enabled(int exception) const { return (enabled_ >> exception) & 1; }
  bool active(int exception) const { return (active_ >> exception) & 1; }

 private:
  int groupPriority(int exception) const;
  int executionPriority(bool primask, uint32_t basepri, bool faultmask) const;
  int rawPriority(int exception) const;
  void markPending(uint64_t bits);
  uint32_t icsr() const;

  uint64_t pending_ = 0, enabled_ = 0, active_ = 0, lines_ = 0;
  std::array<uint8_t, kExceptionCount + 13> priority_{};  // by exception number
  uint32_t vtor_ = 0, prigroup_ = 0, scr_ = 0, ccr_ = 0x200, shcsr_ = 0;
  uint32_t cfsr_ = 0, hfsr_ = 0, mmfar_ = 0, bfar_ = 0;
  bool resetRequest_ = false;
  // SysTick
  uint32_t stCtrl_ = 0, stLoad_ = 0, stVal_ = 0;
  std::function<void()> onPending_;
};

}  // namespace korvel::sim
