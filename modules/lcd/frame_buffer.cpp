#include "frame_buffer.h"

namespace pictor {

void FrameBuffer::fill(uint32_t word) {
  for (int i = 0; i < kLcdPixels; ++i) store(i, word);
}

void FrameBuffer::copyTo(uint32_t* out) const {
  for (int i = 0; i < kLcdPixels; ++i) out[i] = load(i);
}

}  // namespace pictor
