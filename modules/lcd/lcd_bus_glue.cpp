#include "lcd_bus_glue.h"

namespace pictor {

int LcdBusGlue::controlPortEvent(uint32_t pins) {
  pins &= pin::kControlMask;
  const uint32_t changed = pins ^ lastPins_;
  const bool settled = seenControl_;
  lastPins_ = pins;
  seenControl_ = true;
  // While the firmware streams data to the LCD only LE or WR toggles, with the bus turned
  // towards the LCD. EN and DIR as last time means the transceivers are already set as they ask,
  // so only the latch, the write strobe and the bus value can have anything to do.
  constexpr uint32_t kStreaming = pin::kLe | pin::kWr;
  if (settled && (pins & pin::kDir) && (changed & ~kStreaming) == 0) {
    const bool cs = pins & pin::kCs, rs = pins & pin::kRs, rd = pins & pin::kRd;
    if (cs == lcd_.cs() && rs == lcd_.rs() && rd == lcd_.rd()) {
      if (changed & pin::kLe) {
        le_ = pins & pin::kLe;
        if (le_) latch_ = port_;
      }
      dir_ = true;
      latchDrives_ = true;
      const bool wr = pins & pin::kWr;
      if (wr != lcd_.wr()) {
        lcd_.setWr(wr);
        lcd_.evaluate();
      }
      offerBusValue();
      return -1;
    }
  }
  return settleControlPort(pins);
}

int LcdBusGlue::settleControlPort(uint32_t pins) {
  const bool le = pins & pin::kLe;
  if (le != le_) {
    le_ = le;
    if (le) latch_ = port_;
  }
  const bool dir = pins & pin::kDir;
  dir_ = dir;
  // The latch's output enable hangs on DIR: it only drives the bus towards the LCD.
  latchDrives_ = dir;

  // Each transceiver input that changes makes both parts settle again, in wiring order.
  const bool en = pins & pin::kEn;
  if (low_.enabled != en) {
    low_.enabled = en;
    propagateBoth();
  }
  if (high_.enabled != !en) {
    high_.enabled = !en;
    propagateBoth();
  }
  if (low_.aToB != dir) {
    low_.aToB = dir;
    propagateBoth();
  }
  if (high_.aToB != dir) {
    high_.aToB = dir;
    propagateBoth();
  }

  // Lines in the order CS, RS, WR, RD; each change is a new level the controller reacts to,
  // seeing the lines changed before it already at their new level.
  const bool cs = pins & pin::kCs, rs = pins & pin::kRs, wr = pins & pin::kWr, rd = pins & pin::kRd;
  if (cs != lcd_.cs()) {
    lcd_.setCs(cs);
    lcd_.evaluate();
  }
  if (rs != lcd_.rs()) {
    lcd_.setRs(rs);
    lcd_.evaluate();
  }
  if (wr != lcd_.wr()) {
    lcd_.setWr(wr);
    lcd_.evaluate();
  }
  if (rd != lcd_.rd()) {
    lcd_.setRd(rd);
    lcd_.evaluate();
  }

  if (dir) {
    offerBusValue();
    return -1;
  }
  // Turned round: the controller's output reaches the port through whichever transceiver EN
  // selects (low byte when EN = 1, high byte when EN = 0).
  const uint16_t out = lcd_.output();
  if (low_.b != static_cast<uint8_t>(out)) {
    low_.b = static_cast<uint8_t>(out);
    propagateBoth();
  }
  if (high_.b != static_cast<uint8_t>(out >> 8)) {
    high_.b = static_cast<uint8_t>(out >> 8);
    propagateBoth();
  }
  return low_.bIfEnabled() | high_.bIfEnabled();
}

void LcdBusGlue::dataPortEvent(uint32_t pins) {
  const uint8_t byte = static_cast<uint8_t>(pins);
  if (byte != port_) {
    port_ = byte;
    if (le_) latch_ = byte;
  }
  if (low_.a != byte) {
    low_.a = byte;
    propagateBoth();
  }
  if (high_.a != byte) {
    high_.a = byte;
    propagateBoth();
  }
  if (dir_) offerBusValue();
}

}  // namespace pictor
