// The LCD's controller, an ILI9325-class part behind a 16-bit bus: index and data registers, the
// graphics RAM with its address counter and window, and the pixel formats of its interface.
// It is level-sensitive, as the silicon is: the glue calls evaluate() after every change of a
// control line or of the bus value, and the controller acts on the levels it then sees.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "frame_buffer.h"

namespace pictor {

// Register numbers with an effect beyond being stored.
enum LcdRegister : uint16_t {
  kRegDeviceCode = 0x00,
  kRegDriverOutput = 0x01,
  kRegDrivingWave = 0x02,
  kRegEntryMode = 0x03,
  kRegDisplayControl = 0x07,
  kRegInterfaceFormat = 0x0C,
  kRegPowerControl = 0x10,
  kRegAddressX = 0x20,
  kRegAddressY = 0x21,
  kRegGram = 0x22,
  kRegWindowXStart = 0x50,
  kRegWindowXEnd = 0x51,
  kRegWindowYStart = 0x52,
  kRegWindowYEnd = 0x53,
  kRegGateScan = 0x60,
};

inline constexpr uint16_t kDeviceCode = 0x9325;

// 18-bit pixel (R6 G6 B6) to the frame's 0x00RRGGBB word: each 6-bit channel times four.
constexpr uint32_t frameWordFromPixel(uint32_t pixel) {
  uint32_t r = (pixel >> 12) & 0x3F, g = (pixel >> 6) & 0x3F, b = pixel & 0x3F;
  return (r << 18) | (g << 10) | (b << 2);
}

// Frame word back to the 5-6-5 value a graphics-RAM read returns.
constexpr uint16_t readValueFromFrameWord(uint32_t word) {
  uint32_t r = (word >> 16) & 0xFF, g = (word >> 8) & 0xFF, b = word & 0xFF;
  return static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}

class LcdController {
 public:
  explicit LcdController(FrameBuffer& frame);

  // ---- The pins the glue drives ------------------------------------------------------------
  bool cs() const { return cs_; }
  bool rs() const { return rs_; }
  bool wr() const { return wr_; }
  bool rd() const { return rd_; }
  void setCs(bool level) { cs_ = level; }
  void setRs(bool level) { rs_ = level; }
  void setWr(bool level) { wr_ = level; }
  void setRd(bool level) { rd_ = level; }

  // The data bus. The bus latch shares its storage with register 22h of the register file.
  uint32_t busLatch() const { return regs_[kRegGram]; }
  uint16_t busValue() const { return static_cast<uint16_t>(regs_[kRegGram]); }
  // A new value driven onto DB15..0 by the glue (DB17..16 are not wired, so they read 0).
  void driveBus(uint16_t value) { regs_[kRegGram] = (regs_[kRegGram] & ~0x3FFFFu) | value; }
  // What the controller drives onto DB15..0: the bus latch while selected and read-strobed.
  uint16_t output() const { return (!cs_ && !rd_) ? busValue() : 0; }

  // One bus-cycle evaluation at the present line levels and bus value.
  void evaluate();

  // The reset stage: registers, graphics RAM, address counter and transfer state cleared; the
  // line levels stay as they are.
  void reset();

  // ---- State for the window and for tests ----------------------------------------------------
  uint32_t reg(uint16_t index) const { return regs_[index & 0xFF]; }
  uint16_t index() const { return index_; }
  uint16_t x() const { return x_; }
  uint16_t y() const { return y_; }
  bool windowActive() const { return window_; }
  // Whether the panel shows the graphics RAM: power control bit 12 (the step-up circuit on),
  // display control D1..D0 = 3 and GON or DTE set. Safe to ask from the refresh thread.
  bool displayShowing() const;
  FrameBuffer& frame() { return frame_; }

 private:
  void writeRegister();
  void readRegister();
  void writePixel(uint16_t transfer);
  // Collects one 16-bit transfer; true with the complete 18-bit pixel when it was the last one.
  bool assemblePixel(uint16_t transfer, uint32_t& pixel);
  // Index into the frame of the address counter, or -1 when the counter points outside the
  // glass (possible only through window registers stored by an aliased register number).
  int framePosition() const;
  void advanceAddress();
  void publishDisplayRegisters();

  FrameBuffer& frame_;
  bool cs_ = true, rs_ = true, wr_ = true, rd_ = true;
  uint16_t index_ = 0;
  uint16_t x_ = 0, y_ = 0;
  bool window_ = false;
  uint8_t transfersLeft_ = 0;  // wraps like the controller's byte-wide counter
  uint32_t accumulator_ = 0;
  std::array<uint32_t, 256> regs_{};
  // Copies of registers 07h and 10h for the refresh thread, which must not read regs_.
  std::atomic<uint32_t> displayControl_{0};
  std::atomic<uint32_t> powerControl_{0};
};

}  // namespace pictor
