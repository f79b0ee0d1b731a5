// The fast GPIO ports 0..4 (FIOxDIR/MASK/PIN/SET/CLR at 0x2009C000) and the port 0/2 GPIO
// interrupt block (0x40028080). A pin's level is the driven value when it is an output and the
// board's level (set from the PORTn virtual registers) when it is an input, unless a peripheral
// output drives the pin.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "peripheral.h"

namespace korvel::sim {

class Gpio : public Peripheral {
 public:
  static constexpr uint32_t kBase = 0x2009C000, kSize = 0x4000;
  static constexpr int kPorts = 5;
  static constexpr uint32_t pinRegister(int port) { return kBase + 0x20 * uint32_t(port) + 0x14; }

  uint32_t read(uint32_t offset, uint32_t size, Access access) override;
  void write(uint32_t offset, uint32_t value, uint32_t size, Access access) override;
  void reset() override;

  // The levels the board drives into the port (a pin reads them while it is an input).
  void setInputs(int port, uint32_t levels);
  uint32_t levels(int port) const {
    const Port& p = ports_[port];
    uint32_t gpioLevels = (p.out & p.dir) | (p.in & ~p.dir);
    return (gpioLevels & ~p.fnMask) | (p.fnOut & p.fnMask);
  }
  uint32_t outputs(int port) const { return ports_[port].out; }
  // Pins whose pin-connect function is a peripheral output (PWM, timer match): the
  // peripheral's level is the pin's level, whatever the GPIO registers say.
  void setFunctionPins(int port, uint32_t mask, uint32_t levels);
  uint32_t functionPins(int port) const { return ports_[port].fnMask; }
  uint32_t directions(int port) const { return ports_[port].dir; }

  // Told when the firmware's write changed what a port drives (to fire the FIOxPIN watches).
  std::function<void(int port)> onOutputChanged;
  // Told when a pin's level changed: (port, levels before, levels after).
  std::function<void(int port, uint32_t before, uint32_t after)> onLevelsChanged;

 private:
  struct Port {
    uint32_t dir = 0, mask = 0, out = 0, in = 0xFFFFFFFF;
    uint32_t fnMask = 0, fnOut = 0;
  };
  void drive(int port, uint32_t newOut, uint32_t newDir, Access access);
  std::array<Port, kPorts> ports_{};
};

// IO0/IO2 rising- and falling-edge interrupts; they share the EINT3 interrupt line.
class GpioInterrupts : public Peripheral {
 public:
  static constexpr uint32_t kBase = 0x40028000, kSize = 0x4000;

  uint32_t read(uint32_t offset, uint32_t size, Access access) override;
  void write(uint32_t offset, uint32_t value, uint32_t size, Access access) override;
  void reset() override;

  // Edges seen on the pins of port 0 or 2 (input pins only; the caller filters).
  void edges(int port, uint32_t rising, uint32_t falling);
  bool line() const;
  std::function<void(bool level)> onLine;

 private:
  struct Port {
    uint32_t enR = 0, enF = 0, statR = 0, statF = 0;
  };
  void update();
  Port p0_, p2_;
};

}  // namespace korvel::sim
