// The watchdog at 0x40000000. WDTV counts down from WDTC once the firmware has enabled it and
// fed it (0xAA then 0x55), one count per four clocks of its source (the 4 MHz IRC after reset,
// the peripheral clock or the RTC crystal as WDCLKSEL picks). Reaching zero sets WDTOF and
// either requests a chip reset (WDRESET) or raises WDINT, the interrupt request. WDTOF survives
// the reset it caused so the firmware can tell why it restarted; only an external reset or the
// firmware clears it. WDEN and WDRESET, once set, stay set until a reset.
#pragma once

#include <cstdint>
#include <functional>

#include "peripheral.h"
#include "ticks.h"

namespace korvel::sim {

class Watchdog : public Peripheral {
 public:
  static constexpr uint32_t kBase = 0x40000000, kSize = 0x4000;
  static constexpr int kIrq = 0;
  static constexpr int kClockField = 0;  // PCLKSEL0 bits 1:0
  static constexpr uint32_t kWdEn = 1, kWdReset = 2, kWdTof = 4, kWdInt = 8;

  uint32_t read(uint32_t offset, uint32_t size, Access access) override;
  void write(uint32_t offset, uint32_t value, uint32_t size, Access access) override;
  // A chip reset; after a reset this watchdog caused, WDTOF stays set.
  void reset() override;

  // coreHz is the core clock, divider the watchdog's peripheral clock divider.
  void advance(uint64_t cycles, uint32_t coreHz, uint32_t divider);
  uint64_t cyclesToEvent(uint32_t coreHz, uint32_t divider) const;
  // True once after a timeout (or bad feed) with WDRESET set: the chip must reset.
  bool takeResetRequest() {
    bool r = resetRequest_;
    resetRequest_ = false;
    return r;
  }
  std::function<void(bool level)> onLine;
  std::function<void()> onResetRequest;  // the core should stop so the reset happens now

 private:
  void timeout();
  void updateLine();
  // The counting clock as a fraction of the core clock.
  void rate(uint32_t coreHz, uint32_t divider, uint64_t* num, uint64_t* den) const;
  bool running() const { return (mod_ & kWdEn) && started_; }

  uint32_t mod_ = 0, tc_ = 0xFF, tv_ = 0xFF, clksel_ = 0;
  bool started_ = false;      // the first feed after WDEN starts the count
  bool feedArmed_ = false;    // 0xAA written: the next access must write 0x55 to WDFEED
  bool resetRequest_ = false;
  bool keepTimeoutFlag_ = false;
  TickCounter ticks_;
};

}  // namespace korvel::sim
