// The chip's four UARTs (one class, told which one it is): 16-byte receive and transmit FIFOs,
// the divisor latch and fractional divider that set the baud rate from PCLK, line status,
// interrupt identification in the chip's priority order (line status, receive data / character
// time-out, transmitter empty) and the interrupt line to the NVIC.
//
// Time: a character takes (start + data + parity + stop) bit times. The model counts core
// cycles (advance()) and says how long until its next event (cyclesToEvent()), so a character
// that finishes raises its interrupt even while the firmware does not touch the UART.
// Transmitted bytes leave through onTransmit when their stop bit ends; received bytes wait on
// the "wire" (input()) and enter the receive FIFO one character time apart.
// UART1's modem loopback (MCR bit 4) turns its transmitter into its own receiver.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>

#include "peripheral.h"

namespace korvel::sim {

class Uart : public Peripheral {
 public:
  static constexpr uint32_t kBases[4] = {0x4000C000, 0x40010000, 0x40098000, 0x4009C000};
  static constexpr int kIrqs[4] = {5, 6, 7, 8};
  // PCLKSEL bit-pair index of each UART's peripheral clock.
  static constexpr int kClockFields[4] = {3, 4, 16 + 8, 16 + 9};
  static constexpr uint32_t kSize = 0x4000;
  static constexpr size_t kFifoDepth = 16;
  // Bytes that may wait on the wire before input() refuses more.
  static constexpr size_t kWireDepth = 4096;

  explicit Uart(int index = 0) : index_(index) {}

  uint32_t read(uint32_t offset, uint32_t size, Access access) override;
  void write(uint32_t offset, uint32_t value, uint32_t size, Access access) override;
  void reset() override;

  // Counts `cycles` core clocks; characters that finish in them are sent or received.
  void advance(uint64_t cycles);
  uint64_t cyclesToEvent() const;  // UINT64_MAX: nothing due
  // Core clocks per peripheral clock (PCLKSEL); 1 when nobody says.
  std::function<uint32_t()> clockDivider;
  // Core clocks one character takes at the current line settings and baud rate.
  uint64_t characterCycles() const;

  // A byte arriving on RXD. False when the wire already holds kWireDepth bytes.
  bool input(uint8_t byte);
  // Every byte still to be sent (shift register and FIFO) goes out at once: the run is over.
  void flushTransmitter();
  // True once the firmware has written any of this UART's registers (line settings, baud rate,
  // a byte to send), ever since the chip was made: a reset does not take it back, so a host
  // that shows the UARTs in use keeps showing them across the firmware's restarts.
  bool used() const { return used_; }

  std::function<void(uint8_t byte)> onTransmit;
  std::function<void(bool level)> onLine;

 private:
  bool fifoEnabled() const { return fcr_ & 1; }
  size_t rxDepth() const { return fifoEnabled() ? kFifoDepth : 1; }
  size_t txDepth() const { return fifoEnabled() ? kFifoDepth : 1; }
  size_t triggerLevel() const;
  uint32_t interruptId() const;  // IIR bits 3:0
  uint32_t lineStatus() const;
  void startTransmit();
  void transmitDone();
  void receiveDone();
  void receive(uint8_t byte);
  bool loopback() const { return index_ == 1 && (mcr_ & 0x10); }
  void rxActivity();
  void updateLine();

  int index_;
  uint64_t now_ = 0;  // cycles counted by advance()
  uint32_t ier_ = 0, fcr_ = 0, lcr_ = 0, mcr_ = 0, msr_ = 0, scr_ = 0, acr_ = 0, icr_ = 0;
  uint32_t fdr_ = 0x10, ter_ = 0x80, dll_ = 1, dlm_ = 0;
  uint32_t rs485ctrl_ = 0, rs485adrmatch_ = 0, rs485dly_ = 0;
  uint32_t errors_ = 0;  // LSR OE/PE/FE/BI, cleared by reading LSR
  std::deque<uint8_t> rxFifo_, txFifo_, wire_;
  bool txBusy_ = false, rxBusy_ = false;
  uint8_t txShift_ = 0;
  uint64_t txEnd_ = 0, rxEnd_ = 0, ctiAt_ = 0;
  uint64_t due_ = UINT64_MAX;  // the next of the three above that matters
  bool threPending_ = false;  // THRE interrupt source
  bool threArmed_ = false;    // THR written since the last THRE interrupt
  bool directLoad_ = false;  // the byte in the shift register went there straight from THR
  bool ctiPending_ = false;
  bool line_ = false;
  bool used_ = false;
};

}  // namespace korvel::sim
