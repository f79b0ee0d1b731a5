// The UART model driven through its registers as the firmware would, with time advanced by hand:
// the register sequences of the user manual, FIFOs, the baud rate and the interrupt line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "korvel_sim/simulator.h"
#include "uart.h"

namespace {

using namespace korvel::sim;
constexpr Access FW = Access::Firmware;
constexpr Access DBG = Access::Debugger;
enum : uint32_t { RBR = 0x00, THR = 0x00, DLL = 0x00, IER = 0x04, DLM = 0x04, IIR = 0x08, FCR = 0x08,
                  LCR = 0x0C, LSR = 0x14, SCR = 0x1C, FDR = 0x28, TER = 0x30 };

// A UART with its line and its transmitted bytes recorded; PCLK = CCLK / 4 as after reset.
struct Bench {
  explicit Bench(int index = 0) : uart(index) {
    uart.clockDivider = [] { return 4u; };
    uart.onLine = [this](bool l) { line = l; };
    uart.onTransmit = [this](uint8_t b) { sent.push_back(char(b)); };
    uart.reset();
  }
  uint32_t rd(uint32_t off) { return uart.read(off, 4, FW); }
  void wr(uint32_t off, uint32_t v) { uart.write(off, v, 4, FW); }
  // 115200 8N1 from a 25 MHz PCLK: divisor 9, DIVADDVAL 1, MULVAL 2 (115 741 baud).
  void setup115200(uint32_t fcr = 0x07) {
    wr(LCR, 0x83);
    wr(DLL, 9);
    wr(DLM, 0);
    wr(FDR, 0x21);
    wr(LCR, 0x03);
    wr(FCR, fcr);
  }
  Uart uart;
  bool line = false;
  std::string sent;
};

TEST(Uart, ResetValuesAndTheDivisorLatchSwitch) {
  for (int n = 0; n < 4; ++n) {
    Bench b(n);
    EXPECT_EQ(b.rd(LSR), 0x60u) << "UART" << n << ": transmitter empty, nothing received";
    EXPECT_EQ(b.rd(IIR), 0x01u) << "no interrupt pending, FIFOs off";
    EXPECT_EQ(b.rd(FDR), 0x10u);
    EXPECT_EQ(b.rd(TER), 0x80u);
    EXPECT_EQ(b.rd(IER), 0u);
  }
  Bench b;
  b.wr(LCR, 0x83);
  EXPECT_EQ(b.rd(DLL), 1u) << "DLL resets to 1";
  b.wr(DLL, 0x5A);
  b.wr(DLM, 0x01);
  EXPECT_EQ(b.rd(DLL), 0x5Au);
  EXPECT_EQ(b.rd(DLM), 0x01u);
  EXPECT_EQ(b.rd(LSR), 0x60u) << "a DLL write with DLAB set transmits nothing";
  b.wr(LCR, 0x03);
  EXPECT_EQ(b.rd(IER), 0u) << "the DLM write did not reach IER";
  b.wr(IER, 0x05);
  EXPECT_EQ(b.rd(IER), 0x05u);
  b.wr(LCR, 0x83);
  EXPECT_EQ(b.rd(DLM), 0x01u) << "the IER write did not reach DLM";
  b.wr(LCR, 0x03);
  b.uart.advance(1'000'000);
  EXPECT_TRUE(b.sent.empty());
}

TEST(Uart, CharacterTimeFollowsDivisorFractionalDividerAndFrame) {
  Bench b;
  b.setup115200();
  // 4 * 16 * 9 * 1.5 = 864 core clocks a bit: 10 bits for 8N1, ideal 10 / 115200 s at 100 MHz.
  EXPECT_EQ(b.uart.characterCycles(), 8640u);
  EXPECT_NEAR(double(b.uart.characterCycles()), 100e6 * 10 / 115200, 100e6 * 10 / 115200 * 0.01);
  b.wr(THR, 'A');
  EXPECT_EQ(b.rd(LSR) & 0x60, 0x20u) << "THRE (FIFO empty) but not TEMT while the byte shifts out";
  b.uart.advance(8639);
  EXPECT_TRUE(b.sent.empty()) << "one cycle before the stop bit ends";
  EXPECT_EQ(b.uart.cyclesToEvent(), 1u);
  b.uart.advance(1);
  EXPECT_EQ(b.sent, "A");
  EXPECT_EQ(b.rd(LSR) & 0x60, 0x60u);

  b.wr(LCR, 0x0E);  // 7 data bits, parity, 2 stop bits: 11 bits
  EXPECT_EQ(b.uart.characterCycles(), 864u * 11);
  b.wr(LCR, 0x04);  // 5 data bits with "2" stop bits: 1.5 stop bits, 7.5 bits
  EXPECT_EQ(b.uart.characterCycles(), 864u * 15 / 2);
  b.wr(FDR, 0x10);  // fractional divider off
  b.wr(LCR, 0x03);
  EXPECT_EQ(b.uart.characterCycles(), 4u * 16 * 9 * 10);
}

TEST(Uart, PollingOnThrePacesATightPrintLoopAtTheBaudRate) {
  Bench b;
  b.setup115200();
  uint64_t cycles = 0;
  const std::string text = "0123456789abcdefghijklmnopqrstuvwxyz\n";
  for (char c : text) {
    while (!(b.rd(LSR) & 0x20)) b.uart.advance(10), cycles += 10;
    b.wr(THR, uint8_t(c));
  }
  while (!(b.rd(LSR) & 0x40)) b.uart.advance(10), cycles += 10;
  EXPECT_EQ(b.sent, text);
  EXPECT_NEAR(double(cycles), 8640.0 * text.size(), 20.0) << "one character time per character";
}

TEST(Uart, ThreInterruptOnEnableClearedByIirReadOrThrWriteAndRaisedWhenTheFifoDrains) {
  Bench b;
  b.setup115200();
  EXPECT_FALSE(b.line);
  b.wr(IER, 0x02);
  EXPECT_TRUE(b.line) << "enabling THRE with an empty holding register interrupts";
  EXPECT_EQ(b.uart.read(IIR, 4, DBG), 0xC2u) << "a debugger look does not clear it";
  EXPECT_EQ(b.rd(IIR), 0xC2u) << "FIFOs on, THRE identified";
  EXPECT_EQ(b.rd(IIR), 0xC1u) << "reading IIR cleared the THRE interrupt";
  EXPECT_FALSE(b.line);

  // An interrupt-driven driver fills the FIFO; THRE comes back when the FIFO has drained
  // into the shift register, i.e. while the last byte still goes out.
  for (char c : std::string("0123456789ABCDEFG")) b.wr(THR, uint8_t(c));  // shift register + 16
  EXPECT_FALSE(b.line);
  b.uart.advance(8640 * 16 - 1);
  EXPECT_FALSE(b.line);
  b.uart.advance(1);
  EXPECT_TRUE(b.line) << "the last byte left the FIFO";
  EXPECT_EQ(b.sent.size(), 16u);
  b.wr(THR, 'H');
  EXPECT_FALSE(b.line) << "a THR write clears THRE";
  b.uart.advance(8640 * 2);
  EXPECT_EQ(b.sent, "0123456789ABCDEFGH");
  EXPECT_TRUE(b.line) << "one byte per interrupt: THRE again when it has gone out";
  EXPECT_EQ(b.rd(IIR), 0xC2u);
  b.uart.advance(8640 * 10);
  EXPECT_FALSE(b.line) << "no byte written, no further interrupt";
}

TEST(Uart, ReceiveDataAtTheTriggerLevelThenCharacterTimeOut) {
  Bench b;
  b.setup115200(0x47);  // FIFOs on, trigger level 4
  b.wr(IER, 0x01);
  for (char c : std::string("abcde")) ASSERT_TRUE(b.uart.input(uint8_t(c)));
  b.uart.advance(8640 * 3);
  EXPECT_EQ(b.rd(LSR) & 1, 1u) << "RDR with data below the trigger level";
  EXPECT_FALSE(b.line) << "3 bytes: below the trigger level, no time-out yet";
  b.uart.advance(8640);
  EXPECT_TRUE(b.line);
  EXPECT_EQ(b.rd(IIR), 0xC4u) << "RDA at 4 bytes";
  EXPECT_EQ(b.rd(RBR), uint32_t('a'));
  EXPECT_EQ(b.rd(RBR), uint32_t('b'));
  EXPECT_EQ(b.rd(IIR), 0xC1u) << "RDA clears below the trigger level";
  b.uart.advance(8640);  // 'e' arrives: 3 bytes
  EXPECT_EQ(b.rd(IIR), 0xC1u);
  b.uart.advance(8640 * 4 - 1);
  EXPECT_EQ(b.rd(IIR), 0xC1u) << "just under four character times of silence";
  b.uart.advance(1);
  EXPECT_TRUE(b.line);
  EXPECT_EQ(b.rd(IIR), 0xCCu) << "character time-out";
  EXPECT_EQ(b.rd(RBR), uint32_t('c'));
  EXPECT_EQ(b.rd(IIR), 0xC1u) << "reading RBR clears the time-out and restarts its clock";
  EXPECT_EQ(b.rd(RBR), uint32_t('d'));
  EXPECT_EQ(b.rd(RBR), uint32_t('e'));
  EXPECT_EQ(b.rd(LSR) & 1, 0u);
  b.uart.advance(8640 * 10);
  EXPECT_FALSE(b.line) << "an empty FIFO never times out";
}

TEST(Uart, OverrunRaisesLineStatusFirstThenDataThenThre) {
  Bench b;
  b.setup115200(0x01);  // trigger level 1
  b.wr(IER, 0x07);      // RBR, THRE and line status interrupts
  EXPECT_EQ(b.rd(IIR), 0xC2u);
  b.wr(IER, 0x00);
  b.wr(IER, 0x07);  // THRE pending again
  for (int i = 0; i < 17; ++i) ASSERT_TRUE(b.uart.input(uint8_t('A' + i)));
  b.uart.advance(8640 * 17);
  EXPECT_EQ(b.uart.read(IIR, 4, DBG), 0xC6u) << "receive line status outranks everything";
  EXPECT_EQ(b.rd(LSR), 0x63u) << "RDR, OE, THRE, TEMT";
  EXPECT_EQ(b.rd(LSR), 0x61u) << "reading LSR cleared OE";
  EXPECT_EQ(b.rd(IIR), 0xC4u) << "then receive data available";
  std::string got;
  for (int i = 0; i < 16; ++i) got += char(b.rd(RBR));
  EXPECT_EQ(got, "ABCDEFGHIJKLMNOP") << "the FIFO kept its bytes; the 17th was lost";
  EXPECT_EQ(b.rd(IIR), 0xC2u) << "THRE last";
  EXPECT_EQ(b.rd(IIR), 0xC1u);
}

TEST(Uart, FifoResetsEmptyTheFifosAndTransmitEnableHoldsBytes) {
  Bench b;
  b.setup115200();
  for (char c : std::string("xyz")) b.uart.input(uint8_t(c));
  b.uart.advance(8640 * 3);
  EXPECT_EQ(b.rd(LSR) & 1, 1u);
  b.wr(FCR, 0x03);
  EXPECT_EQ(b.rd(LSR) & 1, 0u) << "receive FIFO reset";
  EXPECT_EQ(b.rd(IIR), 0xC1u) << "FCR bits 1 and 2 clear themselves: FIFOs stay on";

  b.wr(TER, 0);
  for (char c : std::string("123")) b.wr(THR, uint8_t(c));
  b.uart.advance(8640 * 5);
  EXPECT_TRUE(b.sent.empty()) << "TXEN off holds the bytes";
  EXPECT_EQ(b.rd(LSR) & 0x60, 0u);
  b.wr(FCR, 0x05);
  EXPECT_EQ(b.rd(LSR) & 0x60, 0x60u) << "transmit FIFO reset";
  b.wr(TER, 0x80);
  b.uart.advance(8640 * 5);
  EXPECT_TRUE(b.sent.empty()) << "the reset bytes are gone";
  b.wr(THR, '4');
  b.uart.advance(8640);
  EXPECT_EQ(b.sent, "4");
}

TEST(Uart, ModemRegistersOnUart1OnlyAndByteWideScratchRegister) {
  Bench u1(1), u0(0);
  u1.wr(0x10, 0x13);
  u0.wr(0x10, 0x13);
  EXPECT_EQ(u1.rd(0x10), 0x13u) << "UART1 MCR";
  EXPECT_EQ(u0.rd(0x10), 0u) << "UART0 has no MCR";
  u0.uart.write(SCR, 0xA5, 1, FW);
  EXPECT_EQ(u0.uart.read(SCR, 1, FW), 0xA5u);
}

TEST(Uart, Uart1LoopbackReceivesWhatItSendsAndIgnoresTheWire) {
  Bench b(1);
  b.setup115200();
  b.wr(0x10, 0x10);  // MCR: loopback
  b.uart.input('w');
  b.wr(THR, 'Z');
  b.uart.advance(8640);
  EXPECT_TRUE(b.sent.empty()) << "nothing leaves on TXD";
  EXPECT_EQ(b.rd(LSR) & 1, 1u);
  EXPECT_EQ(b.rd(RBR), uint32_t('Z'));
  EXPECT_EQ(b.rd(LSR) & 1, 0u) << "the byte on the wire was not received";
  b.wr(0x10, 0);
  b.wr(THR, 'Y');
  b.uart.advance(8640);
  EXPECT_EQ(b.sent, "Y");
}

TEST(Uart, SimulatorTakesInputForUarts0To3AndRefusesWhenTheWireIsFull) {
  agsi_host::Host::instance().clear();
  Simulator sim;
  EXPECT_FALSE(sim.uartInput(4, 'x'));
  EXPECT_FALSE(sim.uartInput(-1, 'x'));
  for (int n = 0; n < 4; ++n) EXPECT_TRUE(sim.uartInput(n, 'x'));
  size_t accepted = 1;
  while (sim.uartInput(2, 'y') && accepted < 10000) ++accepted;
  EXPECT_EQ(accepted, Uart::kWireDepth) << "a bounded wire, refused beyond it";
}

}  // namespace
