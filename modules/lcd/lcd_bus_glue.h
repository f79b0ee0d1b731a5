// The glue between the microcontroller's 8-bit port and the controller's 16-bit bus: a
// transparent latch (74HC573-type) that holds the low byte, and two bidirectional transceivers
// (74HC245-type) on the high byte, one selected by EN for each byte when reading back.
// The glue sees the firmware's pin writes one register at a time and turns them into line
// changes and bus values for the controller.
#pragma once

#include <cstdint>

#include "lcd_controller.h"

namespace pictor {

// Control pins on port 0 (FIO0PIN bit numbers).
namespace pin {
inline constexpr uint32_t kEn = 1u << 19;   // 1 selects the low-byte transceiver, 0 the high one
inline constexpr uint32_t kLe = 1u << 20;   // latch transparent while 1
inline constexpr uint32_t kDir = 1u << 21;  // 1: MCU -> LCD
inline constexpr uint32_t kCs = 1u << 22;
inline constexpr uint32_t kRs = 1u << 23;
inline constexpr uint32_t kWr = 1u << 24;
inline constexpr uint32_t kRd = 1u << 25;
inline constexpr uint32_t kControlMask = 0x03F80000;  // P0.19..P0.25
inline constexpr uint32_t kDataMask = 0x000000FF;     // P2.0..P2.7
}  // namespace pin

// One 8-bit bus transceiver: A faces the port, B the LCD bus.
struct Transceiver {
  uint8_t a = 0;
  uint8_t b = 0;
  bool enabled = true;
  bool aToB = false;
  // While enabled, the side being driven follows the other one.
  void propagate() {
    if (!enabled) return;
    if (aToB) b = a;
    else a = b;
  }
  uint8_t bIfEnabled() const { return enabled ? b : 0; }
};

class LcdBusGlue {
 public:
  explicit LcdBusGlue(LcdController& lcd) : lcd_(lcd) {}

  // A write to FIO0PIN; pins holds P0.19..P0.25. Returns the byte the transceivers now drive
  // onto P2.0..P2.7 while the bus is turned towards the microcontroller, or -1 when it faces
  // the LCD (then the port is left alone).
  int controlPortEvent(uint32_t pins);
  // A write to FIO2PIN; pins holds P2.0..P2.7.
  void dataPortEvent(uint32_t pins);

  // Before the board exists the latch output is taken as driving; the LCD's component turns
  // that off, and from the first control-port event on it follows DIR.
  void setLatchDrives(bool drives) { latchDrives_ = drives; }

  uint8_t latchOutput() const { return latch_; }
  const Transceiver& low() const { return low_; }
  const Transceiver& high() const { return high_; }
  // The value the port side puts on DB15..0 while DIR = 1.
  uint16_t busValue() const {
    return static_cast<uint16_t>(((low_.bIfEnabled() | high_.bIfEnabled()) << 8) |
                                 (latchDrives_ ? latch_ : 0));
  }

 private:
  // Every control input looked at in wiring order (the first event, and whenever more than the
  // latch enable or the write strobe changed).
  int settleControlPort(uint32_t pins);
  void propagateBoth() {
    low_.propagate();
    high_.propagate();
  }
  // Drives a changed bus value into the controller, which then re-evaluates its cycle.
  void offerBusValue() {
    const uint16_t value = busValue();
    if (value != lcd_.busValue()) {
      lcd_.driveBus(value);
      lcd_.evaluate();
    }
  }

  LcdController& lcd_;
  uint8_t port_ = 0;
  uint8_t latch_ = 0;
  bool le_ = false;
  bool dir_ = false;
  bool latchDrives_ = true;
  uint32_t lastPins_ = 0;     // the control pins of the last event
  bool seenControl_ = false;  // false until the first control-port event
  Transceiver low_;
  Transceiver high_;
};

}  // namespace pictor
