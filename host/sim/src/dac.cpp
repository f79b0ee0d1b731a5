#include "dac.h"

namespace korvel::sim {

namespace {
enum : uint32_t { kDacr = 0x0, kCtrl = 0x4, kCntVal = 0x8 };
}

void Dac::reset() {
  ctrl_ = cntval_ = preBuffer_ = counter_ = 0;
  pending_ = false;
  remainder_ = 0;
  setDacr(0);
}

void Dac::setDacr(uint32_t value) {
  double before = volts();
  dacr_ = value & 0x1FFC0;
  if (before != volts() && onOutput) onOutput(volts());
}

void Dac::advance(uint64_t cycles, uint32_t divider) {
  if (!counting()) {
    remainder_ = 0;
    return;
  }
  uint64_t total = remainder_ + cycles;
  uint64_t pclks = total / divider;
  remainder_ = total % divider;
  if (pclks == 0) return;
  // The counter runs down to zero, then reloads from DACCNTVAL: a time-out every DACCNTVAL
  // clocks (every clock when it is 0).
  uint64_t period = cntval_ ? cntval_ : 1;
  uint64_t toZero = counter_ ? counter_ : period;
  if (pclks < toZero) {
    counter_ = uint32_t(toZero - pclks);
    return;
  }
  uint64_t after = (pclks - toZero) % period;
  counter_ = uint32_t(period - after);
  ctrl_ |= 1;  // INT_DMA_REQ
  if (doubleBuffered() && pending_) {
    pending_ = false;
    setDacr(preBuffer_);
  }
}

uint64_t Dac::cyclesToEvent(uint32_t divider) const {
  if (!counting() || !doubleBuffered() || !pending_) return UINT64_MAX;
  uint64_t toZero = counter_ ? counter_ : (cntval_ ? cntval_ : 1);
  uint64_t cycles = toZero * divider;
  return cycles > remainder_ ? cycles - remainder_ : 1;
}

uint32_t Dac::read(uint32_t offset, uint32_t size, Access) {
  uint32_t v = 0;
  switch (offset & ~3u) {
    case kDacr: v = dacr_; break;
    case kCtrl: v = ctrl_; break;
    case kCntVal: v = cntval_; break;
    default: break;
  }
  return laneRead(v, offset, size);
}

void Dac::write(uint32_t offset, uint32_t value, uint32_t size, Access access) {
  uint32_t word = offset & ~3u;
  uint32_t v = size == 4 ? value : laneMerge(read(word, 4, access), offset, value, size);
  switch (word) {
    case kDacr:
      ctrl_ &= ~1u;  // any write to DACR clears INT_DMA_REQ
      if (doubleBuffered()) {
        preBuffer_ = v & 0x1FFC0;
        pending_ = true;
      } else {
        setDacr(v);
      }
      break;
    case kCtrl:
      // INT_DMA_REQ is the hardware's; the firmware sets the enables.
      if ((v & 4) && !counting()) counter_ = cntval_;
      ctrl_ = (ctrl_ & 1) | (v & 0xE);
      break;
    case kCntVal: cntval_ = v & 0xFFFF; break;
    default: break;
  }
}

}  // namespace korvel::sim
