// The legacy SPI controller at 0x40020000 as a master with nobody on the bus: writing S0SPDR
// shifts 8 to 16 bits out at PCLK / S0SPCCR, after which SPIF is set and the data register
// holds what came back (all ones: no device drives MISO). SPIF clears the way the chip clears
// it: reading S0SPSR, then accessing S0SPDR. A write during a transfer is a write collision.
#pragma once

#include <cstdint>
#include <functional>

#include "peripheral.h"
#include "ticks.h"

namespace korvel::sim {

class Spi : public Peripheral {
 public:
  static constexpr uint32_t kBase = 0x40020000, kSize = 0x4000;
  static constexpr int kIrq = 13;
  static constexpr int kClockField = 8;  // PCLKSEL0 bits 17:16

  uint32_t read(uint32_t offset, uint32_t size, Access access) override;
  void write(uint32_t offset, uint32_t value, uint32_t size, Access access) override;
  void reset() override;

  void advance(uint64_t cycles, uint32_t divider);
  uint64_t cyclesToEvent(uint32_t divider) const;
  std::function<void(bool level)> onLine;

 private:
  uint32_t bits() const;
  void finish();
  void updateLine();

  uint32_t spcr_ = 0, spsr_ = 0, spdr_ = 0, spccr_ = 0, spint_ = 0;
  bool statusRead_ = false;  // S0SPSR was read with SPIF set: the next S0SPDR access clears it
  uint64_t remaining_ = 0;   // peripheral clocks left of the transfer under way (0: none)
  TickCounter ticks_;
};

}  // namespace korvel::sim
