// The 16-bit Thumb encodings of the Cortex-M3: decode16() and their handlers.
#include "core.h"

namespace korvel::sim::armv7m {

bool decode16(uint16_t hw, uint32_t pc, Op& op) {
  (void)pc;
  op.raw = hw;
  op.len = 2;
  op.fn = undefined;
  return false;
}

}  // namespace korvel::sim::armv7m
