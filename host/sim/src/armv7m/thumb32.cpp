// The 32-bit Thumb-2 encodings of the Cortex-M3: decode32() and their handlers.
#include "core.h"

namespace korvel::sim::armv7m {

bool decode32(uint16_t hw1, uint16_t hw2, uint32_t pc, Op& op) {
  (void)pc;
  op.raw = uint32_t(hw1) | uint32_t(hw2) << 16;
  op.len = 4;
  op.fn = undefined;
  return false;
}

}  // namespace korvel::sim::armv7m
