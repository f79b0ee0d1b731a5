// SSP1, the touch controller's port. The UARTs live in uart.*.
#pragma once

#include <cstdint>
#include <functional>

#include "peripheral.h"

namespace korvel::sim {

// SSP0 and SSP1 as masters with an always-ready shift register: each frame written to DR is
// sent at once (reported through onSend: SSP1 carries the touch controller) and one received
// frame enters the 8-frame receive FIFO; the status register shows the transmit FIFO empty and
// not busy, so polling drivers proceed. A frame arriving at a full FIFO is an overrun.
class Ssp : public Peripheral {
 public:
  static constexpr uint32_t kBase = 0x40030000, kSize = 0x4000;  // SSP1
  static constexpr uint32_t kSsp0Base = 0x40088000;
  static constexpr int kSsp0Irq = 14, kSsp1Irq = 15;
  static constexpr uint32_t kDataRegister = kBase + 0x08;

  uint32_t read(uint32_t offset, uint32_t size, Access access) override;
  void write(uint32_t offset, uint32_t value, uint32_t size, Access access) override;
  void reset() override;

  std::function<void(uint32_t value)> onSend;
  std::function<void(bool level)> onLine;  // any enabled interrupt (MIS) pending
  // The byte the far end shifts back for each byte sent when nobody answers.
  static constexpr uint32_t kIdleAnswer = 0xFF;

 private:
  uint32_t cr0_ = 0, cr1_ = 0, cpsr_ = 0, imsc_ = 0, dmacr_ = 0;
  uint32_t rawStatus() const;
  void updateLine();
  uint32_t received_ = 0;  // bytes waiting in the receive FIFO (at most 8)
  bool overrun_ = false, timeout_ = false;
};

}  // namespace korvel::sim
