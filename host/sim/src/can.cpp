#include "can.h"

namespace korvel::sim {
namespace {

// CANxCMR
constexpr uint32_t kTr = 1u << 0, kRrb = 1u << 2, kCdo = 1u << 3, kSrr = 1u << 4;
// CANxGSR / CANxSR (SR repeats the buffer bits for buffers 1, 2, 3 at bits 0-7, 8-15, 16-23)
constexpr uint32_t kRbs = 1u << 0, kDos = 1u << 1, kTbs = 1u << 2, kTcs = 1u << 3;
constexpr uint32_t kSrAllBuffers = 0x010101;
// CANxICR / CANxIER: receive, and transmit of buffers 1, 2, 3
constexpr uint32_t kRi = 1u << 0;
constexpr uint32_t kTi[3] = {1u << 1, 1u << 9, 1u << 10};

}  // namespace

void CanController::reset() {
  for (uint32_t& w : words_) w = 0;
  word(MOD) = 0x1;          // reset mode
  word(GSR) = 0x0000000C;   // transmit buffers free, last transmission complete
  word(BTR) = 0x001C0000;
  word(EWL) = 0x60;
  word(SR) = 0x003C3C3C;
  icr_ = 0;
  updateLine();
}

uint32_t CanController::read(uint32_t offset, uint32_t size, Access access) {
  if (offset > TDB3 + 3) return 0;
  uint32_t reg = offset & ~3u;
  if (reg == ICR) {
    uint32_t v = icr_;
    // Reading hands the causes over; only RI stays until the receive buffer is released.
    if (access == Access::Firmware) {
      icr_ &= kRi;
      updateLine();
    }
    return laneRead(v, offset, size);
  }
  return laneRead(word(reg), offset, size);
}

void CanController::write(uint32_t offset, uint32_t value, uint32_t size, Access access) {
  if (offset > TDB3 + 3) return;
  uint32_t reg = offset & ~3u;
  uint32_t v = laneMerge(reg == ICR ? icr_ : word(reg), offset, value, size);
  if (access == Access::Debugger) {
    // The plug-in's own writes: it places received frames and keeps the mode's bit 0.
    if (reg == ICR) icr_ = v, updateLine();
    else word(reg) = v;
    // The plug-in places a frame word by word (RFS, RID, RDA, RDB) from its own thread while the
    // firmware runs: the frame waits only once its last word is there, or the firmware could
    // read a half-written frame.
    if (reg == RDB) frameWaiting();
    return;
  }
  switch (reg) {
    case GSR: case ICR: case SR: return;  // status: read-only to the firmware
    case CMR:
      word(CMR) = v;  // kept readable: the plug-in reads the command back
      command(v);
      return;
    default: word(reg) = v; return;
  }
}

void CanController::command(uint32_t value) {
  if (value & kRrb) {
    word(GSR) &= ~kRbs;
    word(SR) &= ~(kRbs * kSrAllBuffers);
    icr_ &= ~kRi;
  }
  if (value & kCdo) {
    word(GSR) &= ~kDos;
    word(SR) &= ~(kDos * kSrAllBuffers);
  }
  if (value & (kTr | kSrr)) {
    uint32_t selected = (value >> 5) & 7;
    if (selected == 0) selected = 1;  // no buffer named: the first
    // The frame leaves at once as far as the firmware can tell: the buffer is free again and
    // its transmission complete.
    for (int n = 0; n < 3; ++n) {
      if (!(selected & (1u << n))) continue;
      word(SR) |= (kTbs | kTcs) << (8 * n);
      if (word(IER) & kTi[n]) icr_ |= kTi[n];
    }
    word(GSR) |= kTbs | kTcs;
  }
  updateLine();
}

void CanController::frameWaiting() {
  word(GSR) |= kRbs;
  word(SR) |= kRbs * kSrAllBuffers;
  if (word(IER) & kRi) icr_ |= kRi;
  // No interrupt from here: the plug-in pends IRQ 25 itself once it has also recorded the
  // frame's cause for the firmware's icr variable. Raising it here as well let the firmware take
  // the frame, release it, and then take it a second time on the plug-in's own pend.
}

void CanController::updateLine() {
  if (onLine) onLine(line());
}

}  // namespace korvel::sim
