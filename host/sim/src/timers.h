// Timers 0..3 (match interrupts, reset and stop on match, prescaler, counter mode on a CAP pin's
// edges, capture into CR0/CR1, external match outputs) and the repetitive interrupt timer. Both
// count peripheral clocks; the simulator advances them with the cycles that passed and asks how
// long until their next interrupt or match output change so a slice ends in time.
#pragma once

#include <cstdint>
#include <functional>

#include "peripheral.h"

namespace korvel::sim {

class Timer : public Peripheral {
 public:
  static constexpr uint32_t kBases[4] = {0x40004000, 0x40008000, 0x40090000, 0x40094000};
  static constexpr uint32_t kSize = 0x4000;

  uint32_t read(uint32_t offset, uint32_t size, Access access) override;
  void write(uint32_t offset, uint32_t value, uint32_t size, Access access) override;
  void reset() override;

  // Counts `cycles` core clocks at the peripheral clock divider.
  void advance(uint64_t cycles, uint32_t divider);
  // UINT64_MAX: nothing due. Match output changes count only when someone watches the pins;
  // otherwise they catch up when the pins are read.
  uint64_t cyclesToEvent(uint32_t divider, bool pinsWatched = false) const;
  std::function<void(bool level)> onLine;

  // A level change on the CAPn.input pin (0 or 1): counts in counter mode, captures TC.
  void capturePin(int input, bool level);
  // EMR's EMk bit: the level of MATn.k.
  bool matchOutput(int k) const { return (emr_ >> k) & 1; }
  std::function<void()> onMatchOutputsChanged;

 private:
  bool counterMode() const { return (ctcr_ & 3) != 0; }
  bool matchActive(int k) const { return (mcr_ & (7u << (3 * k))) || ((emr_ >> (4 + 2 * k)) & 3); }
  void countTc(uint64_t increments);
  void match(int k);
  void updateLine();
  uint32_t ir_ = 0, tcr_ = 0, tc_ = 0, pr_ = 0, pc_ = 0, mcr_ = 0, ccr_ = 0, emr_ = 0, ctcr_ = 0;
  uint32_t mr_[4] = {}, cr_[2] = {};
  uint64_t remainder_ = 0;  // core cycles not yet making a whole peripheral clock
};

class RepetitiveTimer : public Peripheral {
 public:
  static constexpr uint32_t kBase = 0x400B0000, kSize = 0x4000;

  uint32_t read(uint32_t offset, uint32_t size, Access access) override;
  void write(uint32_t offset, uint32_t value, uint32_t size, Access access) override;
  void reset() override;

  void advance(uint64_t cycles, uint32_t divider);
  uint64_t cyclesToEvent(uint32_t divider) const;
  std::function<void(bool level)> onLine;

 private:
  uint32_t compval_ = 0xFFFFFFFF, mask_ = 0, ctrl_ = 0xC, counter_ = 0;
  uint64_t remainder_ = 0;
};

}  // namespace korvel::sim
