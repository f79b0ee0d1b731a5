#include "frame_buffer.h"

namespace pictor {

void FrameBuffer::fill(uint32_t word) {
  for (int i = 0; i < kLcdPixels; ++i) store(i, word);
}

void FrameBuffer::copyTo(uint32_t* out) const {
  for (int i = 0; i < kLcdPixels; ++i) out[i] = load(i);
}

void FrameBuffer::markDirty() {
  std::lock_guard<std::mutex> lock(mutex_);
  dirty_ = true;
}

bool FrameBuffer::takeDirty() {
  std::lock_guard<std::mutex> lock(mutex_);
  bool was = dirty_;
  dirty_ = false;
  return was;
}

bool FrameBuffer::isDirty() {
  std::lock_guard<std::mutex> lock(mutex_);
  return dirty_;
}

}  // namespace pictor
