// SSP1, the touch controller's port. The UARTs live in uart.*.
#pragma once

#include <cstdint>
#include <functional>

#include "peripheral.h"

namespace korvel::sim {

// SSP1 as a master with an always-ready shift register: each byte written to DR is sent at
// once (reported through onSend) and one received byte becomes readable; the status register
// shows the transmit FIFO empty and not busy, so polling drivers proceed.
class Ssp : public Peripheral {
 public:
  static constexpr uint32_t kBase = 0x40030000, kSize = 0x4000;
  static constexpr uint32_t kDataRegister = kBase + 0x08;

  uint32_t read(uint32_t offset, uint32_t size, Access access) override;
  void write(uint32_t offset, uint32_t value, uint32_t size, Access access) override;
  void reset() override;

  std::function<void(uint32_t value)> onSend;
  // The byte the far end shifts back for each byte sent when nobody answers.
  static constexpr uint32_t kIdleAnswer = 0xFF;

 private:
  uint32_t cr0_ = 0, cr1_ = 0, cpsr_ = 0, imsc_ = 0, dmacr_ = 0;
  uint32_t received_ = 0;  // bytes waiting in the receive FIFO (at most 8)
};

}  // namespace korvel::sim
