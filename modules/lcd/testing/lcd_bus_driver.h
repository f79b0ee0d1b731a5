// Plays what the board's LCD driver firmware does on its pins, one register write per pin
// change: the low byte through the latch, the high byte through the transceivers, strobes one
// at a time. The firmware side is a host that takes pin-register stores (write) and shows the
// levels the board drives into port 2 (port2): the array host here, the test host elsewhere.
#pragma once

#include <cstdint>
#include <string>

#include "array_host.h"

namespace korvel_testing {

// The array host as the driver's firmware side.
struct ArrayHostFirmware {
  void write(uint32_t address, uint32_t value) { ArrayHost::firmwareWrite(address, value); }
  uint32_t port2() { return ArrayHost::vtr("PORT2"); }
};

template <class Firmware>
class BasicLcdBusDriver {
 public:
  explicit BasicLcdBusDriver(Firmware firmware = Firmware{}) : firmware_(firmware) {}

  static constexpr uint32_t kFio0Pin = 0x2009C014;
  static constexpr uint32_t kFio2Pin = 0x2009C054;
  static constexpr uint32_t EN = 1u << 19, LE = 1u << 20, DIR = 1u << 21, CS = 1u << 22,
                            RS = 1u << 23, WR = 1u << 24, RD = 1u << 25;

  // Idle bus: DIR towards the LCD, every strobe and the chip select high.
  void idle() {
    p0_ = DIR | CS | RS | WR | RD;
    firmware_.write(kFio0Pin, p0_);
  }

  void set(uint32_t bits) { control(p0_ | bits); }
  void clr(uint32_t bits) { control(p0_ & ~bits); }
  void data(uint8_t byte) {
    p2_ = byte;
    firmware_.write(kFio2Pin, p2_);
  }

  // The low byte goes into the latch, the high byte stays on the port for the transceivers.
  void putWord(uint16_t v) {
    data(static_cast<uint8_t>(v));
    set(LE);
    clr(LE);
    data(static_cast<uint8_t>(v >> 8));
  }

  void writeIndex(uint16_t index) {
    selectIndex(index);
    set(CS);
  }
  void writeData(uint16_t value) {
    putWord(value);
    clr(CS);
    clr(WR);
    set(WR);
    set(CS);
  }
  void writeRegister(uint16_t index, uint16_t value) {
    writeIndex(index);
    writeData(value);
  }
  // A run of graphics-RAM writes within one chip-select period, as a fill routine does: the
  // index write and the pixels share the period (raising CS after index 22h ends a window).
  void beginGram() { selectIndex(0x22); }
  void pixel(uint16_t value) {
    putWord(value);
    clr(WR);
    set(WR);
  }
  void endGram() { set(CS); }

  // Reads the data register: bus turned round, RD low, high byte with EN = 0, low byte with
  // EN = 1, as the levels the LCD drives on P2.7..0 (PORT2).
  uint16_t readData() {
    clr(DIR | EN);
    clr(CS);
    clr(RD);
    const uint32_t high = firmware_.port2() & 0xFF;
    set(EN);
    const uint32_t low = firmware_.port2() & 0xFF;
    set(RD);
    set(CS);
    clr(EN);
    set(DIR);
    return static_cast<uint16_t>(high << 8 | low);
  }
  uint16_t readRegister(uint16_t index) {
    writeIndex(index);
    return readData();
  }

  uint32_t control() const { return p0_; }

 private:
  // Index write that leaves the chip selected.
  void selectIndex(uint16_t index) {
    putWord(index);
    clr(RS);
    clr(CS);
    clr(WR);
    set(WR);
    set(RS);
  }
  void control(uint32_t value) {
    p0_ = value;
    firmware_.write(kFio0Pin, p0_);
  }
  Firmware firmware_;
  uint32_t p0_ = 0;
  uint8_t p2_ = 0;
};

using LcdBusDriver = BasicLcdBusDriver<ArrayHostFirmware>;

}  // namespace korvel_testing
