#include "spi.h"

#include <algorithm>

namespace korvel::sim {

namespace {
enum : uint32_t { kSpcr = 0x00, kSpsr = 0x04, kSpdr = 0x08, kSpccr = 0x0C, kSpint = 0x1C };
constexpr uint32_t kBitEnable = 1u << 2, kMaster = 1u << 5, kInterruptEnable = 1u << 7;
constexpr uint32_t kWriteCollision = 1u << 6, kTransferDone = 1u << 7;
constexpr uint32_t kMinDivider = 8;  // the chip needs S0SPCCR of at least 8
}  // namespace

void Spi::reset() {
  spcr_ = spsr_ = spdr_ = spccr_ = spint_ = 0;
  statusRead_ = false;
  remaining_ = 0;
  ticks_.clear();
  updateLine();
}

void Spi::updateLine() {
  if (onLine) onLine(spint_ & 1);
}

uint32_t Spi::bits() const {
  if (!(spcr_ & kBitEnable)) return 8;
  uint32_t n = (spcr_ >> 8) & 0xF;
  return n >= 8 ? n : 16;  // 1000..1111 are 8..15 bits, 0000 is 16
}

void Spi::finish() {
  remaining_ = 0;
  spdr_ = (1u << bits()) - 1;  // MISO idles high
  spsr_ |= kTransferDone;
  if (spcr_ & kInterruptEnable) spint_ |= 1;
  updateLine();
}

void Spi::advance(uint64_t cycles, uint32_t divider) {
  if (!remaining_) {
    ticks_.clear();
    return;
  }
  uint64_t n = ticks_.advance(cycles, 1, divider);
  if (n >= remaining_) finish();
  else remaining_ -= n;
}

uint64_t Spi::cyclesToEvent(uint32_t divider) const {
  return remaining_ ? ticks_.cyclesFor(remaining_, 1, divider) : UINT64_MAX;
}

uint32_t Spi::read(uint32_t offset, uint32_t size, Access access) {
  uint32_t v = 0;
  switch (offset & ~3u) {
    case kSpcr: v = spcr_; break;
    case kSpsr:
      v = spsr_;
      if (access == Access::Firmware) statusRead_ = (spsr_ & kTransferDone) != 0;
      break;
    case kSpdr:
      v = spdr_;
      if (access == Access::Firmware && statusRead_) spsr_ &= ~(kTransferDone | kWriteCollision), statusRead_ = false;
      break;
    case kSpccr: v = spccr_; break;
    case kSpint: v = spint_; break;
  }
  return laneRead(v, offset, size);
}

void Spi::write(uint32_t offset, uint32_t value, uint32_t size, Access access) {
  uint32_t v = laneMerge(0, offset, value, size);
  switch (offset & ~3u) {
    case kSpcr: spcr_ = v & 0xFFC; break;
    case kSpdr:
      if (access != Access::Firmware) break;
      if (statusRead_) spsr_ &= ~(kTransferDone | kWriteCollision), statusRead_ = false;
      if (remaining_) {
        spsr_ |= kWriteCollision;  // the shift register is busy: the byte is lost
        break;
      }
      if (!(spcr_ & kMaster)) break;  // a slave waits for a master that never comes
      remaining_ = uint64_t(bits()) * std::max(spccr_, kMinDivider);
      ticks_.clear();
      break;
    case kSpccr: spccr_ = v & 0xFF; break;
    case kSpint:
      spint_ &= ~(v & 1);
      updateLine();
      break;
  }
}

}  // namespace korvel::sim
