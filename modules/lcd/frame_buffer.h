// The LCD's picture as the controller has drawn it: 320 rows of 240 pixels, top row first, one
// 0x00RRGGBB word per pixel, so the window's display bitmap takes it with one block copy.
// The dirty flag says the picture changed since the window last copied it; it is the one piece
// of LCD state guarded by a mutex (the simulation thread sets it, the refresh thread clears it).
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

namespace pictor {

inline constexpr int kLcdWidth = 240;
inline constexpr int kLcdHeight = 320;
inline constexpr int kLcdPixels = kLcdWidth * kLcdHeight;

class FrameBuffer {
 public:
  uint32_t* pixels() { return pixels_.data(); }
  const uint32_t* pixels() const { return pixels_.data(); }
  uint32_t pixel(int column, int row) const { return pixels_[row * kLcdWidth + column]; }

  // Black, as at power-up and after a peripheral reset. Leaves the dirty flag alone.
  void clear();
  // Every byte 0xFF: what the glass shows when the display is switched on before any data.
  void fillWhite();

  void markDirty();
  // Tests and clears the flag in one step; true when the picture changed since the last call.
  bool takeDirty();
  bool isDirty();

 private:
  std::array<uint32_t, kLcdPixels> pixels_{};
  std::mutex mutex_;
  bool dirty_ = false;
};

}  // namespace pictor
