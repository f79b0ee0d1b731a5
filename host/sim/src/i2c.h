// The I2C controllers I2C0..2 as a bus master on a bus where no device answers: a START gives
// status 0x08, an address byte is not acknowledged (0x20 for SLA+W, 0x48 for SLA+R), a data
// byte neither (0x30), STOP frees the bus (0xF8, no SI) and a repeated START gives 0x10. Each
// step takes its bus time (SCLH + SCLL peripheral clocks a bit, 9 bits a byte) and ends with SI
// set, which is the interrupt request. Slave mode never sees its address; arbitration is not
// lost because nobody else drives the bus.
#pragma once

#include <cstdint>
#include <functional>

#include "peripheral.h"
#include "ticks.h"

namespace korvel::sim {

class I2c : public Peripheral {
 public:
  static constexpr uint32_t kBases[3] = {0x4001C000, 0x4005C000, 0x400A0000};
  static constexpr uint32_t kSize = 0x4000;
  static constexpr int kIrqs[3] = {10, 11, 12};
  // PCLKSEL bit-pair index of each controller's clock.
  static constexpr int kClockFields[3] = {7, 16 + 3, 16 + 10};

  // Status codes the controller reports.
  static constexpr uint32_t kStarted = 0x08, kRepeatedStart = 0x10, kAddressWriteNack = 0x20,
                            kDataNack = 0x30, kAddressReadNack = 0x48, kIdle = 0xF8;

  uint32_t read(uint32_t offset, uint32_t size, Access access) override;
  void write(uint32_t offset, uint32_t value, uint32_t size, Access access) override;
  void reset() override;

  void advance(uint64_t cycles, uint32_t divider);
  uint64_t cyclesToEvent(uint32_t divider) const;  // UINT64_MAX: nothing under way
  std::function<void(bool level)> onLine;

 private:
  enum class Step { None, Start, Address, Data };
  void kick();
  void finish();
  void updateLine();
  uint64_t bitPclks() const;

  uint32_t con_ = 0, stat_ = kIdle, dat_ = 0, sclh_ = 4, scll_ = 4, mmctrl_ = 0;
  uint32_t adr_[4] = {}, mask_[4] = {};
  bool master_ = false;  // we hold the bus after a START
  Step step_ = Step::None;
  uint64_t remaining_ = 0;  // peripheral clocks until the step ends
  TickCounter ticks_;
};

}  // namespace korvel::sim
