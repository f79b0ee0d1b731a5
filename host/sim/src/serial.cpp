#include "serial.h"

namespace korvel::sim {

namespace {
enum : uint32_t { kCr0 = 0x00, kCr1 = 0x04, kDr = 0x08, kSr = 0x0C, kCpsr = 0x10, kImsc = 0x14,
                  kRis = 0x18, kMis = 0x1C, kIcr = 0x20, kDmacr = 0x24 };
constexpr uint32_t kTfe = 1, kTnf = 2, kRne = 4, kRff = 8;
constexpr uint32_t kFifoDepth = 8;
constexpr uint32_t kRor = 1, kRt = 2, kRx = 4, kTx = 8;  // RIS/MIS/IMSC bits
}  // namespace

void Ssp::reset() {
  cr0_ = cr1_ = cpsr_ = imsc_ = dmacr_ = 0;
  received_ = 0;
  overrun_ = timeout_ = false;
  updateLine();
}

// The transmit FIFO is always at least half empty; the receive interrupt wants it half full.
// Frames left in the receive FIFO below that count as timed out at once: the bus is idle.
uint32_t Ssp::rawStatus() const {
  return kTx | (received_ >= kFifoDepth / 2 ? kRx : 0) | (overrun_ ? kRor : 0) | (timeout_ ? kRt : 0);
}

void Ssp::updateLine() {
  if (onLine) onLine((rawStatus() & imsc_) != 0);
}

uint32_t Ssp::read(uint32_t offset, uint32_t size, Access access) {
  uint32_t v = 0;
  switch (offset & ~3u) {
    case kCr0: v = cr0_; break;
    case kCr1: v = cr1_; break;
    case kDr:
      v = kIdleAnswer;
      if (access == Access::Firmware && received_ > 0) {
        if (--received_ == 0) timeout_ = false;
        updateLine();
      }
      break;
    case kSr: v = kTfe | kTnf | (received_ ? kRne : 0) | (received_ >= kFifoDepth ? kRff : 0); break;
    case kCpsr: v = cpsr_; break;
    case kImsc: v = imsc_; break;
    case kRis: v = rawStatus(); break;
    case kMis: v = rawStatus() & imsc_; break;
    case kDmacr: v = dmacr_; break;
  }
  return laneRead(v, offset, size);
}

void Ssp::write(uint32_t offset, uint32_t value, uint32_t size, Access access) {
  switch (offset & ~3u) {
    case kCr0: cr0_ = value & 0xFFFF; break;
    case kCr1: cr1_ = value & 0xF; break;
    case kDr: {
      uint32_t bits = (cr0_ & 0xF) + 1;
      uint32_t frame = bits >= 4 ? value & ((1u << bits) - 1) : value & 0xFF;
      if (access == Access::Firmware) {
        // Full duplex: one frame back per frame out.
        if (received_ < kFifoDepth) ++received_;
        else overrun_ = true;
        timeout_ = true;
        updateLine();
        if (onSend) onSend(frame);
      }
      break;
    }
    case kCpsr: cpsr_ = value & 0xFE; break;
    case kImsc: imsc_ = value & 0xF; updateLine(); break;
    case kIcr:
      if (value & kRor) overrun_ = false;
      if (value & kRt) timeout_ = false;
      updateLine();
      break;
    case kDmacr: dmacr_ = value & 3; break;
  }
}

}  // namespace korvel::sim
