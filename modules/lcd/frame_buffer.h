// The LCD's picture as the controller has drawn it: 320 rows of 240 pixels, top row first, one
// 0x00RRGGBB word per pixel, so the window's display bitmap takes it with one block copy.
// The dirty flag says the picture changed since the window last copied it; it is the one piece
// of LCD state guarded by a mutex (the simulation thread sets it, the refresh thread clears it).
//
// The pixels themselves are not locked: the refresh thread may copy a frame in the middle of an
// update and shows the rest at its next poll. Each word is still stored and loaded whole
// (relaxed atomic accesses, plain moves on the machine), so a torn copy is never undefined.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace pictor {

inline constexpr int kLcdWidth = 240;
inline constexpr int kLcdHeight = 320;
inline constexpr int kLcdPixels = kLcdWidth * kLcdHeight;

class FrameBuffer {
 public:
  // ---- Simulation thread ---------------------------------------------------------------------
  void store(int index, uint32_t word) {
    std::atomic_ref<uint32_t>(pixels_[index]).store(word, std::memory_order_relaxed);
  }
  // Black, as at power-up and after a peripheral reset. Leaves the dirty flag alone.
  void clear() { fill(0); }
  // Every byte 0xFF: what the glass shows when the display is switched on before any data.
  void fillWhite() { fill(0xFFFFFFFFu); }

  // ---- Any thread ------------------------------------------------------------------------------
  uint32_t load(int index) const {
    return std::atomic_ref<uint32_t>(const_cast<uint32_t&>(pixels_[index]))
        .load(std::memory_order_relaxed);
  }
  uint32_t pixel(int column, int row) const { return load(row * kLcdWidth + column); }
  // Copies the whole picture (kLcdPixels words) to out.
  void copyTo(uint32_t* out) const;

  void markDirty();
  // Tests and clears the flag in one step; true when the picture changed since the last call.
  bool takeDirty();
  bool isDirty();

 private:
  void fill(uint32_t word);

  alignas(std::atomic_ref<uint32_t>::required_alignment) std::array<uint32_t, kLcdPixels> pixels_{};
  std::mutex mutex_;
  bool dirty_ = false;
};

}  // namespace pictor
