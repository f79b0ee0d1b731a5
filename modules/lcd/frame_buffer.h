// The LCD's picture as the controller has drawn it: 320 rows of 240 pixels, top row first, one
// 0x00RRGGBB word per pixel, so the window's display bitmap takes it with one block copy.
// The dirty flag says the picture changed since the window last copied it. It is an atomic flag,
// not a lock, because it is set for every pixel: setting it is one plain store. The simulation
// thread sets it (release) after storing pixels; the refresh thread clears it (exchange, acquire)
// before copying, so a pixel stored after the copy began sets it again and is shown at the next
// poll: nothing drawn is ever left off the glass.
//
// The pixels themselves are not locked: the refresh thread may copy a frame in the middle of an
// update and shows the rest at its next poll. Each word is still stored and loaded whole
// (relaxed atomic accesses, plain moves on the machine), so a torn copy is never undefined.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

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

  void markDirty() { dirty_.store(true, std::memory_order_release); }
  // Tests and clears the flag in one step; true when the picture changed since the last call.
  bool takeDirty() { return dirty_.exchange(false, std::memory_order_acq_rel); }
  bool isDirty() const { return dirty_.load(std::memory_order_acquire); }

 private:
  void fill(uint32_t word);

  alignas(std::atomic_ref<uint32_t>::required_alignment) std::array<uint32_t, kLcdPixels> pixels_{};
  std::atomic<bool> dirty_{false};
};

}  // namespace pictor
