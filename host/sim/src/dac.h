// The 10-bit D/A converter at 0x4008C000: DACR's VALUE (bits 15:6) and BIAS, and the time-out
// counter (DACCTRL.CNT_ENA, DACCNTVAL) that sets INT_DMA_REQ every DACCNTVAL peripheral clocks
// and, with DBLBUF_ENA, moves the value written last into DACR only then. The output is
// VALUE / 1024 of the 3.3 V reference; the board sees it as the AOUT virtual register.
#pragma once

#include <cstdint>
#include <functional>

#include "peripheral.h"

namespace korvel::sim {

class Dac : public Peripheral {
 public:
  static constexpr uint32_t kBase = 0x4008C000, kSize = 0x4000;
  static constexpr double kReferenceVolts = 3.3;

  uint32_t read(uint32_t offset, uint32_t size, Access access) override;
  void write(uint32_t offset, uint32_t value, uint32_t size, Access access) override;
  void reset() override;

  // Counts `cycles` core clocks at the peripheral clock divider.
  void advance(uint64_t cycles, uint32_t divider);
  // Core cycles until a double-buffered value reaches the output; UINT64_MAX if none waits.
  uint64_t cyclesToEvent(uint32_t divider) const;

  double volts() const { return double((dacr_ >> 6) & 0x3FF) * kReferenceVolts / 1024.0; }
  // Told when the output voltage changes (also by a reset).
  std::function<void(double volts)> onOutput;

 private:
  void setDacr(uint32_t value);
  bool counting() const { return ctrl_ & 4; }
  bool doubleBuffered() const { return (ctrl_ & 6) == 6; }
  uint32_t dacr_ = 0, ctrl_ = 0, cntval_ = 0;
  uint32_t preBuffer_ = 0, counter_ = 0;
  bool pending_ = false;     // a double-buffered write waits for the time-out
  uint64_t remainder_ = 0;   // core cycles not yet making a whole peripheral clock
};

}  // namespace korvel::sim
