#include "frame_buffer.h"

#include <cstring>

namespace pictor {

void FrameBuffer::clear() { pixels_.fill(0); }

void FrameBuffer::fillWhite() { std::memset(pixels_.data(), 0xFF, sizeof(pixels_)); }

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
