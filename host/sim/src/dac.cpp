#include "dac.h"

namespace korvel::sim {

namespace {
enum : uint32_t { kDacr = 0x0, kCtrl = 0x4, kCntVal = 0x8 };
}

void Dac::reset() {
  double before = volts();
  dacr_ = ctrl_ = cntval_ = 0;
  if (before != volts() && onOutput) onOutput(volts());
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
    case kDacr: {
      double before = volts();
      dacr_ = v & 0x1FFC0;
      if (before != volts() && onOutput) onOutput(volts());
      break;
    }
    case kCtrl: ctrl_ = v & 0xF; break;
    case kCntVal: cntval_ = v & 0xFFFF; break;
    default: break;
  }
}

}  // namespace korvel::sim
