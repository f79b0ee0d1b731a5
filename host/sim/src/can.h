// One of the LPC17xx's CAN controllers (CAN1 at 0x40044000, CAN2 at 0x40048000) as far as the
// frame path goes: the registers keep what is written to them, and the status registers follow
// the frames. Frames themselves travel through the plug-in, which reads the transmit buffers and
// fills the receive registers through the host; this model only keeps the status honest, so
// firmware that waits for a free transmit buffer or a full receive buffer works.
#pragma once

#include <cstdint>
#include <functional>

#include "peripheral.h"

namespace korvel::sim {

class CanController : public Peripheral {
 public:
  static constexpr uint32_t kBases[2] = {0x40044000, 0x40048000};
  static constexpr uint32_t kSize = 0x4000;

  // Register offsets.
  enum : uint32_t {
    MOD = 0x00, CMR = 0x04, GSR = 0x08, ICR = 0x0C, IER = 0x10, BTR = 0x14, EWL = 0x18, SR = 0x1C,
    RFS = 0x20, RID = 0x24, RDA = 0x28, RDB = 0x2C, TFI1 = 0x30, TDB3 = 0x5C,
  };

  uint32_t read(uint32_t offset, uint32_t size, Access access) override;
  void write(uint32_t offset, uint32_t value, uint32_t size, Access access) override;
  void reset() override;

  // The controller's share of the CAN interrupt: high while an interrupt cause is flagged.
  std::function<void(bool level)> onLine;
  bool line() const { return icr_ != 0; }

 private:
  void command(uint32_t value);
  void frameWaiting();
  void updateLine();
  uint32_t word(uint32_t offset) const { return words_[offset / 4]; }
  uint32_t& word(uint32_t offset) { return words_[offset / 4]; }

  uint32_t words_[0x60 / 4] = {};
  uint32_t icr_ = 0;
};

}  // namespace korvel::sim
