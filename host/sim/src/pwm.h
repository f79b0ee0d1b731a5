// PWM1 at 0x40018000: a timer/counter with prescaler and seven match registers (MR0 is the
// period) whose writes wait in shadow registers until an MR0 match latches those named in LER
// (in PWM mode), match interrupts, reset and stop, and the six outputs PWM1.1..6, single edge
// (high from the cycle start to MRn) or double edge (set at MRn-1, cleared at MRn).
#pragma once

#include <cstdint>
#include <functional>

#include "peripheral.h"

namespace korvel::sim {

class Pwm : public Peripheral {
 public:
  static constexpr uint32_t kBase = 0x40018000, kSize = 0x4000;
  static constexpr int kMatches = 7, kOutputs = 6;

  uint32_t read(uint32_t offset, uint32_t size, Access access) override;
  void write(uint32_t offset, uint32_t value, uint32_t size, Access access) override;
  void reset() override;

  // Counts `cycles` core clocks at the peripheral clock divider.
  void advance(uint64_t cycles, uint32_t divider);
  // Core cycles until an interrupt, or (when someone watches the pins) an enabled output, can
  // change; UINT64_MAX if never. Unwatched outputs catch up when their pins are read.
  uint64_t cyclesToEvent(uint32_t divider, bool pinsWatched) const;

  // Level of PWM1.n (1..6), and whether PCR lets it out to its pin.
  bool output(int n) const { return (outputs_ >> n) & 1; }
  bool outputEnabled(int n) const { return (pcr_ >> (8 + n)) & 1; }

  std::function<void(bool level)> onLine;
  std::function<void()> onOutputsChanged;  // an output level or PCR's enables changed

 private:
  void countTc(uint64_t increments);
  void match(int k);
  void cycleStart();
  void setOutputs(uint32_t bits);
  void updateLine();
  bool pwmMode() const { return tcr_ & 8; }
  uint32_t ir_ = 0, tcr_ = 0, tc_ = 0, pr_ = 0, pc_ = 0, mcr_ = 0, ccr_ = 0, pcr_ = 0, ler_ = 0, ctcr_ = 0;
  uint32_t mr_[kMatches] = {}, shadow_[kMatches] = {}, cr_[2] = {};
  uint32_t outputs_ = 0;  // bit n: PWM1.n
  uint64_t remainder_ = 0;
};

}  // namespace korvel::sim
