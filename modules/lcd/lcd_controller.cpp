#include "lcd_controller.h"

namespace pictor {

namespace {

constexpr uint32_t kRegisterMask = 0x3FFFF;  // DB17..0

// Standby (power control SLP or STB): the controller ignores everything except a cycle with
// 0x0010 on the bus, the value that wakes it.
constexpr uint32_t kStandbyBits = 0x0003;
constexpr uint16_t kWakeValue = 0x0010;

// One step of one address coordinate within [lo, hi] (the window) or [0, max] (the glass).
// Returns true when the coordinate wrapped, which moves the other coordinate.
inline bool stepAxis(uint16_t& v, bool increment, bool window, uint16_t lo, uint16_t hi,
                     uint16_t max) {
  if (increment) {
    if (window ? v < hi : v != max) {
      ++v;
      return false;
    }
    v = window ? lo : 0;
    return true;
  }
  if (window ? v > lo : v != 0) {
    --v;
    return false;
  }
  v = window ? hi : max;
  return true;
}

}  // namespace

LcdController::LcdController(FrameBuffer& frame) : frame_(frame) {}

void LcdController::reset() {
  frame_.clear();
  regs_.fill(0);
  x_ = y_ = 0;
  index_ = 0;
  window_ = false;
  transfersLeft_ = 0;
  accumulator_ = 0;
  publishDisplayRegisters();
}

bool LcdController::displayShowing() const {
  uint32_t dc = displayControl_.load(std::memory_order_relaxed);
  uint32_t pc = powerControl_.load(std::memory_order_relaxed);
  return (pc & 0x1000) && (dc & 0x3) == 0x3 && (dc & 0x30);
}

void LcdController::publishDisplayRegisters() {
  displayControl_.store(regs_[kRegDisplayControl], std::memory_order_relaxed);
  powerControl_.store(regs_[kRegPowerControl], std::memory_order_relaxed);
}

void LcdController::evaluate() {
  if ((regs_[kRegPowerControl] & kStandbyBits) && busValue() != kWakeValue) return;
  if (cs_) {
    // Deselecting the chip after graphics-RAM access ends the window's term.
    if (index_ == kRegGram) window_ = false;
    return;
  }
  if (!wr_) {
    if (!rs_) {
      index_ = busValue();
    } else {
      const uint8_t slot = index_ & 0xFF;
      regs_[slot] = busLatch() & kRegisterMask;
      if (slot == kRegDisplayControl || slot == kRegPowerControl) publishDisplayRegisters();
      writeRegister();
    }
  } else if (!rd_) {
    readRegister();
  }
}

void LcdController::writeRegister() {
  const uint32_t value = regs_[index_ & 0xFF];
  switch (index_) {
    case kRegEntryMode:
      // TRI set: 18-bit data comes in two transfers; start a fresh pixel.
      if (value & 0x4000) {
        transfersLeft_ = 2;
        accumulator_ = 0;
      }
      break;
    case kRegDisplayControl:
      // Display on (D1..0, GON, DTE) before any data: the glass shows white.
      if ((value & 0x33) == 0x33) {
        frame_.fillWhite();
        frame_.markDirty();
      }
      break;
    case kRegInterfaceFormat:
      // 18-bit interface in three 6-bit transfers (only while TRI is off).
      if (!(regs_[kRegEntryMode] & 0x8000) && (value & 0x3) == 2) {
        transfersLeft_ = 3;
        accumulator_ = 0;
      }
      break;
    case kRegAddressX: x_ = static_cast<uint16_t>(value % kLcdWidth); break;
    case kRegAddressY: y_ = static_cast<uint16_t>(value % kLcdHeight); break;
    case kRegGram: writePixel(static_cast<uint16_t>(value)); break;
    case kRegWindowXStart:
    case kRegWindowXEnd:
      window_ = true;
      regs_[index_] = (value & ~0xFFu) | ((value & 0xFF) % kLcdWidth);
      break;
    case kRegWindowYStart:
    case kRegWindowYEnd:
      window_ = true;
      regs_[index_] = (value & ~0x1FFu) | ((value & 0x1FF) % kLcdHeight);
      break;
    default: break;
  }
}

void LcdController::readRegister() {
  uint32_t value;
  switch (index_) {
    case kRegDeviceCode: value = kDeviceCode; break;
    case kRegGram: {
      // A graphics-RAM read ends the window and moves the counter on the whole glass.
      window_ = false;
      int pos = framePosition();
      value = pos < 0 ? 0 : readValueFromFrameWord(frame_.load(pos));
      advanceAddress();
      break;
    }
    default: value = regs_[index_ & 0xFF] & kRegisterMask; break;
  }
  regs_[kRegGram] = (regs_[kRegGram] & ~kRegisterMask) | value;
}

void LcdController::writePixel(uint16_t transfer) {
  uint32_t pixel = 0;
  if (!assemblePixel(transfer, pixel)) return;
  int pos = framePosition();
  if (pos >= 0) frame_.store(pos, frameWordFromPixel(pixel));
  advanceAddress();
  frame_.markDirty();
}

bool LcdController::assemblePixel(uint16_t v, uint32_t& pixel) {
  const uint32_t entry = regs_[kRegEntryMode];
  if (entry & 0x8000) {
    // TRI: two transfers per 18-bit pixel; DFM (bit 14) says which one carries the 2 odd bits.
    const bool twoBitsFirst = entry & 0x4000;
    if (transfersLeft_ == 2) {
      accumulator_ |= twoBitsFirst ? (uint32_t(v & 3) << 16) : (uint32_t(v) << 2);
      transfersLeft_ = 1;
      return false;
    }
    accumulator_ |= twoBitsFirst ? uint32_t(v) : uint32_t(v & 3);
    if (--transfersLeft_ != 0) return false;
    pixel = accumulator_;
    transfersLeft_ = 2;
    accumulator_ = 0;
    return true;
  }
  switch (regs_[kRegInterfaceFormat] & 0x3) {
    case 0:  // 5-6-5: red and blue widened to 6 bits; red repeats its top bit
      pixel = ((((v >> 11) & 0x1F) * 2 + (v >> 15)) << 12) | (((v >> 5) & 0x3F) << 6) |
              ((v & 0x1F) * 2);
      transfersLeft_ = 0;
      return true;
    case 1:  // 5-6-5 with blue also repeating its top bit
      pixel = ((((v >> 11) & 0x1F) * 2 + (v >> 15)) << 12) | (((v >> 5) & 0x3F) << 6) |
              ((v & 0x1F) * 2 + ((v >> 4) & 1));
      transfersLeft_ = 0;
      return true;
    case 2: {  // three 6-bit transfers, red first
      --transfersLeft_;
      // The counter is byte-wide; a counter far above 2 shifts the transfer out of the word
      // entirely instead of wrapping the shift count.
      const unsigned shift = 6u * transfersLeft_;
      if (shift < 32) accumulator_ |= uint32_t(v) << shift;
      if (transfersLeft_ != 0) return false;
      pixel = accumulator_;
      transfersLeft_ = 3;
      accumulator_ = 0;
      return true;
    }
    default:  // reserved format: the controller takes nothing
      return false;
  }
}

int LcdController::framePosition() const {
  if (x_ >= kLcdWidth || y_ >= kLcdHeight) return -1;
  const uint32_t r01 = regs_[kRegDriverOutput], r02 = regs_[kRegDrivingWave];
  // SS (01h bit 8) mirrors the source outputs; B/C with EOR (02h bits 9, 8) inverts it again.
  const bool mirror = ((r01 >> 8) & 1) ^ (((r02 >> 9) & 1) & ((r02 >> 8) & 1));
  const int column = mirror ? kLcdWidth - 1 - x_ : x_;
  // GS (60h bit 15) clear scans gates bottom-up: address row 0 is the bottom row of the glass.
  const int row = (regs_[kRegGateScan] & 0x8000) ? y_ : kLcdHeight - 1 - y_;
  return row * kLcdWidth + column;
}

void LcdController::advanceAddress() {
  const uint32_t entry = regs_[kRegEntryMode];
  const bool verticalFirst = entry & 0x08;  // AM
  const bool incX = entry & 0x10;           // ID0
  const bool incY = entry & 0x20;           // ID1
  const uint16_t hsa = regs_[kRegWindowXStart] & 0xFF, hea = regs_[kRegWindowXEnd] & 0xFF;
  const uint16_t vsa = regs_[kRegWindowYStart] & 0x1FF, vea = regs_[kRegWindowYEnd] & 0x1FF;
  if (!verticalFirst) {
    if (stepAxis(x_, incX, window_, hsa, hea, kLcdWidth - 1))
      stepAxis(y_, incY, window_, vsa, vea, kLcdHeight - 1);
  } else {
    if (stepAxis(y_, incY, window_, vsa, vea, kLcdHeight - 1))
      stepAxis(x_, incX, window_, hsa, hea, kLcdWidth - 1);
  }
}

}  // namespace pictor
