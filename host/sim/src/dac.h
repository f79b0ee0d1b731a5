// The 10-bit D/A converter at 0x4008C000: DACR's VALUE (bits 15:6) and BIAS, DACCTRL and
// DACCNTVAL. The output is VALUE / 1024 of the 3.3 V reference; the board sees it as the AOUT
// virtual register.
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

  double volts() const { return double((dacr_ >> 6) & 0x3FF) * kReferenceVolts / 1024.0; }
  // Told when the output voltage changes (also by a reset).
  std::function<void(double volts)> onOutput;

 private:
  uint32_t dacr_ = 0, ctrl_ = 0, cntval_ = 0;
};

}  // namespace korvel::sim
