// The 12-bit A/D converter (AD0 at 0x40034000): software start and burst scanning of the
// selected channels, a conversion every 65 ADC clocks (PCLK / (CLKDIV + 1)), the global and
// per-channel data registers with DONE and OVERRUN, and its interrupt line. The input voltages
// come from the board (the AINn virtual registers) when a conversion ends.
#pragma once

#include <cstdint>
#include <functional>

#include "peripheral.h"

namespace korvel::sim {

class Adc : public Peripheral {
 public:
  static constexpr uint32_t kBase = 0x40034000, kSize = 0x4000;
  static constexpr int kChannels = 8;
  static constexpr double kReferenceVolts = 3.3;
  static constexpr uint32_t kClocksPerConversion = 65;

  uint32_t read(uint32_t offset, uint32_t size, Access access) override;
  void write(uint32_t offset, uint32_t value, uint32_t size, Access access) override;
  void reset() override;

  // Lets `cycles` core clocks pass.
  void advance(uint64_t cycles);
  // Core cycles until a conversion ends that raises the interrupt; UINT64_MAX if none.
  uint64_t cyclesToEvent() const;
  // The 12-bit result for a voltage: 0 V reads 0, the reference and above 4095.
  static uint32_t code(double volts);

  std::function<double(int channel)> input;  // volts on AD0.channel
  std::function<void(bool level)> onLine;
  std::function<uint32_t()> clockDivider;  // core clocks per ADC peripheral clock

 private:
  void start();
  void complete();
  int nextChannel(int after) const;
  bool line() const;
  void updateLine();
  uint32_t cr_ = 1, gdr_ = 0, inten_ = 0x100, dr_[kChannels] = {}, trm_ = 0xF00;
  bool busy_ = false;
  int channel_ = 0;
  uint64_t remaining_ = 0;   // core cycles until the conversion in progress ends
  bool lineLevel_ = false;
};

}  // namespace korvel::sim
