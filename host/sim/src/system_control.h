// The system control block at 0x400FC000: oscillator and PLL status (so start-up code that
// waits for lock proceeds), the clock dividers that set the core clock and the peripheral
// clocks, and the external interrupts EINT0..3 on P2.10..P2.13.
#pragma once

#include <cstdint>
#include <functional>

#include "peripheral.h"

namespace korvel::sim {

class SystemControl : public Peripheral {
 public:
  static constexpr uint32_t kBase = 0x400FC000, kSize = 0x4000;
  static constexpr uint32_t kIrcHz = 4000000, kMainOscHz = 12000000, kRtcHz = 32768;

  uint32_t read(uint32_t offset, uint32_t size, Access access) override;
  void write(uint32_t offset, uint32_t value, uint32_t size, Access access) override;
  void reset() override;

  // The core clock from the oscillator, PLL0 and CCLKCFG as configured.
  uint32_t coreClockHz() const;
  // Divider from the core clock to a peripheral's clock; field is its PCLKSEL bit pair index
  // (0..15 in PCLKSEL0, 16..31 in PCLKSEL1).
  uint32_t peripheralDivider(int field) const;

  // Level of the pin P2.(10+n) and whether the pin is switched to its EINTn function.
  void externalPin(int n, bool level, bool selected);
  // Reset sources in RSID: they accumulate until the firmware clears them.
  static constexpr uint32_t kResetByPowerOn = 1, kResetByExternal = 2, kResetByWatchdog = 4;
  void noteReset(uint32_t source) { rsid_ |= source; }
  std::function<void(int n, bool level)> onLine;  // EINTn interrupt line
  std::function<void()> onClockChanged;

 private:
  void updateLine(int n);
  uint32_t pll0con_ = 0, pll0cfg_ = 0, pll0conActive_ = 0, pll0cfgActive_ = 0;
  uint32_t pll1con_ = 0, pll1cfg_ = 0, pll1conActive_ = 0, pll1cfgActive_ = 0;
  uint32_t feed0_ = 0, feed1_ = 0;
  uint32_t cclkcfg_ = 0, clksrcsel_ = 0, scs_ = 0, pclksel0_ = 0, pclksel1_ = 0, pconp_ = 0x042887DE;
  uint32_t usbclkcfg_ = 0, pcon_ = 0, rsid_ = 1, flashcfg_ = 0x303A, clkoutcfg_ = 0;
  uint32_t extint_ = 0, extmode_ = 0, extpolar_ = 0;
  uint32_t usbIntSt_ = 0x80000000;  // EN_USB_INTS set: USB interrupts reach the NVIC
  bool pinLevel_[4] = {true, true, true, true};
  bool pinSelected_[4] = {false, false, false, false};
};

}  // namespace korvel::sim
