// The touch panel's controller (ADS7843/XPT2046-class) as the firmware meets it on SSP1: command
// bytes in, one answer byte out per byte exchanged, conversion results from the pen position.
// Also the pen itself: where it touches the panel, and whether it is down.
// Plain state, no window code: the panel component drives the pen, the serial call-backs the rest.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>

namespace palmett {

inline constexpr int kPanelWidth = 240;
inline constexpr int kPanelHeight = 320;

class TouchController {
 public:
  // ---- Pen (UI thread); read by the serial side without a lock ----------------------------
  void press(int x, int y);
  // A drag: inside the panel the position follows; outside it is unknown (-1) but the pen stays down.
  void drag(int x, int y, bool inside);
  void release();
  int x() const { return x_.load(std::memory_order_relaxed); }
  int y() const { return y_.load(std::memory_order_relaxed); }
  bool penDown() const { return penDown_.load(std::memory_order_relaxed); }

  // ---- Serial side (simulation thread) -------------------------------------------------------
  // A byte the firmware clocked out.
  void byteSent(uint8_t b);
  // One byte clocked in: the next queued answer, or 0 when there is none or the panel is off
  // (then the queue is kept).
  uint8_t answer(bool enabled);

  uint8_t controlByte() const { return control_; }
  uint8_t bitCounter() const { return bits_; }
  const std::deque<uint8_t>& queue() const { return queue_; }

 private:
  bool conversionInProgress() const;
  void accept(uint8_t command);

  std::atomic<int> x_{-1};
  std::atomic<int> y_{-1};
  std::atomic<bool> penDown_{false};
  uint8_t control_ = 0;
  uint8_t bits_ = 0;  // bits exchanged since the last command; byte-wide like the original
  std::deque<uint8_t> queue_;
};

}  // namespace palmett
