#include "touch_controller.h"

namespace palmett {

namespace {
constexpr uint8_t kStart = 0x80;
constexpr uint8_t kEightBit = 0x08;
constexpr uint8_t kChannelX = 0x1;  // A2..A0 = 001: horizontal position
constexpr uint8_t kChannelY = 0x5;  // A2..A0 = 101: vertical position
}  // namespace

void TouchController::press(int x, int y) {
  x_.store(x, std::memory_order_relaxed);
  y_.store(y, std::memory_order_relaxed);
  penDown_.store(true, std::memory_order_relaxed);
}

void TouchController::drag(int x, int y, bool inside) {
  x_.store(inside ? x : -1, std::memory_order_relaxed);
  y_.store(inside ? y : -1, std::memory_order_relaxed);
}

void TouchController::release() {
  penDown_.store(false, std::memory_order_relaxed);
  x_.store(-1, std::memory_order_relaxed);
  y_.store(-1, std::memory_order_relaxed);
}

bool TouchController::conversionInProgress() const {
  // A conversion clocks out 8 or 12 result bits after its command; a start bit inside that
  // span is data, not a new command.
  const uint8_t span = (control_ & kEightBit) ? 11 : 15;
  return bits_ >= 1 && bits_ <= span;
}

void TouchController::byteSent(uint8_t b) {
  if (b == 0) {
    bits_ += 8;
    return;
  }
  if (b < kStart) {
    queue_.push_back(0x00);
    bits_ += 8;
    return;
  }
  if (conversionInProgress()) {
    queue_.push_back(0xFF);
    bits_ += 8;
    return;
  }
  accept(b);
}

void TouchController::accept(uint8_t command) {
  control_ = command;
  bits_ = 0;
  queue_.clear();
  queue_.push_back(0x80);
  const uint8_t channel = (command >> 4) & 0x7;
  const bool eightBit = command & kEightBit;
  if (channel == kChannelX || channel == kChannelY) {
    if (penDown()) {
      const int pos = channel == kChannelX ? x() : y();
      const int full = channel == kChannelX ? kPanelWidth : kPanelHeight;
      if (eightBit) {
        queue_.push_back(static_cast<uint8_t>(pos * 255 / full));
      } else {
        const int v = pos * 4095 / full;
        queue_.push_back(static_cast<uint8_t>(v >> 4));
        queue_.push_back(static_cast<uint8_t>((v & 0x0F) << 4));
      }
    } else {
      // No touch: the conversion reads full scale.
      queue_.push_back(0xFF);
      if (!eightBit) queue_.push_back(0xFF);
    }
  }
  bits_ += 8;
}

uint8_t TouchController::answer(bool enabled) {
  bits_ += 8;
  if (queue_.empty() || !enabled) return 0;
  const uint8_t front = queue_.front();
  queue_.pop_front();
  return front;
}

}  // namespace palmett
