#include "serial.h"

namespace korvel::sim {

namespace {
enum : uint32_t { kCr0 = 0x00, kCr1 = 0x04, kDr = 0x08, kSr = 0x0C, kCpsr = 0x10, kImsc = 0x14,
                  kRis = 0x18, kMis = 0x1C, kIcr = 0x20, kDmacr = 0x24 };
constexpr uint32_t kTfe = 1, kTnf = 2, kRne = 4, kRff = 8;
constexpr uint32_t kFifoDepth = 8;
}  // namespace

void Ssp::reset() {
  cr0_ = cr1_ = cpsr_ = imsc_ = dmacr_ = 0;
  received_ = 0;
}

uint32_t Ssp::read(uint32_t offset, uint32_t size, Access access) {
  uint32_t v = 0;
  switch (offset & ~3u) {
    case kCr0: v = cr0_; break;
    case kCr1: v = cr1_; break;
    case kDr:
      v = kIdleAnswer;
      if (access == Access::Firmware && received_ > 0) --received_;
      break;
    case kSr: v = kTfe | kTnf | (received_ ? kRne : 0) | (received_ >= kFifoDepth ? kRff : 0); break;
    case kCpsr: v = cpsr_; break;
    case kImsc: v = imsc_; break;
    case kRis: v = 0x8 | (received_ ? 0x4 : 0); break;  // transmit FIFO at least half empty
    case kMis: v = (0x8 | (received_ ? 0x4 : 0)) & imsc_; break;
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
        if (received_ < kFifoDepth) ++received_;  // full duplex: one frame back per frame out
        if (onSend) onSend(frame);
      }
      break;
    }
    case kCpsr: cpsr_ = value & 0xFE; break;
    case kImsc: imsc_ = value & 0xF; break;
    case kIcr: break;
    case kDmacr: dmacr_ = value & 3; break;
  }
}

}  // namespace korvel::sim
