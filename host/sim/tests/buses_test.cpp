// The bus controllers, watchdog, RTC and unmodelled registers on their own, driven through
// their registers as the firmware would, with time passing in core cycles.
#include <gtest/gtest.h>

#include <vector>

#include "i2c.h"
#include "korvel_sim/simulator.h"
#include "rtc.h"
#include "serial.h"
#include "spi.h"
#include "unmodelled.h"
#include "wdt.h"

namespace {

using namespace korvel::sim;
constexpr Access FW = Access::Firmware;
constexpr Access DBG = Access::Debugger;

// I2C registers.
constexpr uint32_t kConSet = 0x00, kStat = 0x04, kDat = 0x08, kSclh = 0x10, kScll = 0x14, kConClr = 0x18;
constexpr uint32_t kAa = 4, kSi = 8, kSto = 0x10, kSta = 0x20, kEn = 0x40;

struct I2cBench {
  I2c i2c;
  bool line = false;
  static constexpr uint32_t kDivider = 4;     // PCLK = CCLK / 4
  static constexpr uint64_t kBit = 2 * 50;    // SCLH = SCLL = 50 peripheral clocks
  I2cBench() {
    i2c.onLine = [this](bool l) { line = l; };
    i2c.reset();
    i2c.write(kSclh, 50, 4, FW);
    i2c.write(kScll, 50, 4, FW);
  }
  uint32_t stat() { return i2c.read(kStat, 4, FW); }
  bool si() { return i2c.read(kConSet, 4, FW) & kSi; }
  // Lets `cycles` core cycles pass; checks that nothing happens one cycle early.
  void expectStepAfter(uint64_t cycles, uint32_t status) {
    EXPECT_EQ(i2c.cyclesToEvent(kDivider), cycles);
    uint32_t before = stat();
    i2c.advance(cycles - 1, kDivider);
    EXPECT_FALSE(si()) << "SI one cycle early";
    EXPECT_EQ(stat(), before);
    i2c.advance(1, kDivider);
    EXPECT_TRUE(si());
    EXPECT_TRUE(line) << "SI is the interrupt request";
    EXPECT_EQ(stat(), status);
  }
};

TEST(I2c, MasterWriteToAnAbsentDeviceGoesStartNackStopWithBusTimes) {
  I2cBench b;
  EXPECT_EQ(b.stat(), 0xF8u) << "idle after reset";
  EXPECT_EQ(b.i2c.read(kSclh, 4, FW), 50u);
  b.i2c.write(kConSet, kSta, 4, FW);
  EXPECT_EQ(b.i2c.cyclesToEvent(4), UINT64_MAX) << "STA does nothing while the controller is off";
  b.i2c.write(kConSet, kEn, 4, FW);
  b.expectStepAfter(I2cBench::kBit * I2cBench::kDivider, 0x08);

  b.i2c.write(kDat, 0xA0, 4, FW);  // SLA+W
  b.i2c.write(kConClr, kSta | kSi, 4, FW);
  EXPECT_FALSE(b.line) << "clearing SI drops the request";
  b.expectStepAfter(9 * I2cBench::kBit * I2cBench::kDivider, 0x20);

  b.i2c.write(kConSet, kSto, 4, FW);
  EXPECT_TRUE(b.i2c.read(kConSet, 4, FW) & kSto) << "STOP waits for SI to clear";
  b.i2c.write(kConClr, kSi, 4, FW);
  EXPECT_EQ(b.stat(), 0xF8u) << "the bus is free again";
  EXPECT_FALSE(b.i2c.read(kConSet, 4, FW) & kSto) << "STO clears itself";
  EXPECT_FALSE(b.si()) << "a STOP sets no SI";
  EXPECT_EQ(b.i2c.cyclesToEvent(4), UINT64_MAX);
}

TEST(I2c, ReadAddressNackThenRepeatedStartAndDataNack) {
  I2cBench b;
  b.i2c.write(kConSet, kEn | kSta, 4, FW);
  b.i2c.advance(1000, I2cBench::kDivider);
  ASSERT_EQ(b.stat(), 0x08u);
  b.i2c.write(kDat, 0x91, 4, FW);  // SLA+R
  b.i2c.write(kConClr, kSta | kSi, 4, FW);
  b.expectStepAfter(9 * I2cBench::kBit * I2cBench::kDivider, 0x48);
  b.i2c.write(kConClr, kSi, 4, FW);
  b.i2c.advance(100000, I2cBench::kDivider);
  EXPECT_FALSE(b.si()) << "after SLA+R NACK only a START or STOP moves on";
  b.i2c.write(kConSet, kSta, 4, FW);
  b.expectStepAfter(I2cBench::kBit * I2cBench::kDivider, 0x10);
  b.i2c.write(kDat, 0xA0, 4, FW);
  b.i2c.write(kConClr, kSta | kSi, 4, FW);
  b.expectStepAfter(9 * I2cBench::kBit * I2cBench::kDivider, 0x20);
  b.i2c.write(kDat, 0x55, 4, FW);  // a data byte after the NACK: nobody acknowledges it either
  b.i2c.write(kConClr, kSi, 4, FW);
  b.expectStepAfter(9 * I2cBench::kBit * I2cBench::kDivider, 0x30);
  // STOP and START together: the bus is freed and taken again.
  b.i2c.write(kConSet, kSto | kSta, 4, FW);
  b.i2c.write(kConClr, kSi, 4, FW);
  b.expectStepAfter(I2cBench::kBit * I2cBench::kDivider, 0x08);
  // Switching the controller off abandons the bus.
  b.i2c.write(kConClr, kEn | kAa, 4, FW);
  EXPECT_EQ(b.stat(), 0xF8u);
  EXPECT_FALSE(b.line);
}

// Each controller sits in its own window, counts its own peripheral clock and raises its own
// interrupt: a START on I2C1 and I2C2 (through the debugger's writes, without firmware) ends
// with SI and IRQ 11 or 12 pending, after the time the bus needs, not before.
TEST(I2c, EachControllerOfTheChipHasItsWindowClockAndInterrupt) {
  agsi_host::Host::instance().clear();
  Simulator sim;
  sim.setRealTime(false);
  auto rd = [&](uint32_t a) {
    uint32_t v = 0;
    EXPECT_TRUE(sim.read(a, 4, reinterpret_cast<uint8_t*>(&v)));
    return v;
  };
  auto wr = [&](uint32_t a, uint32_t v) { EXPECT_TRUE(sim.write(a, 4, reinterpret_cast<const uint8_t*>(&v))); };
  for (int i : {1, 2}) {
    uint32_t base = I2c::kBases[i];
    EXPECT_EQ(rd(base + kStat), 0xF8u);
    wr(base + kConSet, kEn | kSta);
  }
  wr(0x400FC1AC, 1u << (2 * (26 - 16)));  // PCLKSEL1: I2C2 at the full 4 MHz, I2C1 at 1 MHz
  // A START takes SCLH + SCLL = 8 peripheral clocks: 2 us on I2C2, 8 us on I2C1.
  sim.runFor(1.5e-6);
  EXPECT_EQ(rd(I2c::kBases[2] + kStat), 0xF8u) << "I2C2 too early";
  sim.runFor(1e-6);
  EXPECT_EQ(rd(I2c::kBases[2] + kStat), 0x08u);
  EXPECT_EQ(rd(I2c::kBases[1] + kStat), 0xF8u) << "I2C1 counts its slower clock";
  EXPECT_EQ(rd(0xE000E200) & (3u << 11), 1u << 12) << "IRQ 12 pending for I2C2";
  sim.runFor(6e-6);
  EXPECT_EQ(rd(I2c::kBases[1] + kStat), 0x08u);
  EXPECT_EQ(rd(0xE000E200) & (3u << 11), 3u << 11) << "IRQ 11 pending for I2C1";
  EXPECT_EQ(rd(I2c::kBases[0] + kStat), 0xF8u) << "I2C0 untouched";
}

TEST(Spi, MasterTransferSetsSpifAfterItsBitsAndAnswersAllOnes) {
  Spi spi;
  bool line = false;
  spi.onLine = [&](bool l) { line = l; };
  spi.reset();
  spi.write(0x0C, 16, 4, FW);                             // S0SPCCR: PCLK / 16
  spi.write(0x00, (1u << 7) | (1u << 5), 4, FW);         // SPIE, master, 8 bits
  spi.write(0x08, 0x3C, 4, FW);
  EXPECT_EQ(spi.cyclesToEvent(2), 8u * 16 * 2);
  spi.advance(8 * 16 * 2 - 1, 2);
  EXPECT_EQ(spi.read(0x04, 4, DBG), 0u) << "SPIF one cycle early";
  spi.write(0x08, 0x11, 4, FW);
  EXPECT_EQ(spi.read(0x04, 4, DBG), 0x40u) << "a write during the transfer is a write collision";
  spi.advance(1, 2);
  EXPECT_EQ(spi.read(0x04, 4, FW), 0xC0u) << "SPIF (with the collision flag)";
  EXPECT_TRUE(line);
  EXPECT_EQ(spi.read(0x1C, 4, FW), 1u) << "S0SPINT";
  EXPECT_EQ(spi.read(0x08, 4, FW), 0xFFu) << "no device: MISO high";
  EXPECT_EQ(spi.read(0x04, 4, FW), 0u) << "status read, then data access, clears SPIF";
  spi.write(0x1C, 1, 4, FW);
  EXPECT_FALSE(line);

  // 12-bit frames take 12 bit times and answer twelve ones.
  spi.write(0x00, (1u << 5) | (1u << 2) | (12u << 8), 4, FW);
  spi.write(0x08, 0, 4, FW);
  spi.advance(12 * 16 * 2, 2);
  EXPECT_EQ(spi.read(0x04, 4, FW) & 0x80, 0x80u);
  EXPECT_EQ(spi.read(0x08, 4, FW), 0xFFFu);
  EXPECT_FALSE(line) << "no interrupt without SPIE";

  spi.write(0x00, 0, 4, FW);  // a slave waits for a master that never comes
  spi.write(0x08, 0x12, 4, FW);
  EXPECT_EQ(spi.cyclesToEvent(2), UINT64_MAX);
}

TEST(Ssp, FramesFillTheReceiveFifoWithAllOnesAndRaiseItsInterrupts) {
  Ssp ssp;
  bool line = false;
  std::vector<uint32_t> sent;
  ssp.onLine = [&](bool l) { line = l; };
  ssp.onSend = [&](uint32_t v) { sent.push_back(v); };
  ssp.reset();
  ssp.write(0x00, 7, 4, FW);  // 8-bit frames
  ssp.write(0x04, 2, 4, FW);  // enabled
  EXPECT_EQ(ssp.read(0x0C, 4, FW), 3u) << "TFE and TNF, receive FIFO empty, not busy";
  ssp.write(0x14, 4, 4, FW);  // RXIM
  for (uint32_t i = 0; i < 3; ++i) ssp.write(0x08, 0x10 + i, 4, FW);
  EXPECT_EQ(ssp.read(0x0C, 4, FW), 7u) << "RNE";
  EXPECT_FALSE(line) << "three frames are below the half-full mark";
  ssp.write(0x08, 0x13, 4, FW);
  EXPECT_TRUE(line) << "four frames: receive FIFO half full";
  EXPECT_EQ(sent, (std::vector<uint32_t>{0x10, 0x11, 0x12, 0x13}));
  for (int i = 0; i < 5; ++i) ssp.write(0x08, 0, 4, FW);
  EXPECT_EQ(ssp.read(0x0C, 4, FW), 0xFu) << "receive FIFO full";
  EXPECT_EQ(ssp.read(0x18, 4, FW) & 1, 1u) << "the ninth frame overran";
  ssp.write(0x20, 1, 4, FW);
  EXPECT_EQ(ssp.read(0x18, 4, FW) & 1, 0u) << "ICR clears the overrun";
  for (int i = 0; i < 8; ++i) EXPECT_EQ(ssp.read(0x08, 4, FW), 0xFFu) << "no device answers all ones";
  EXPECT_EQ(ssp.read(0x0C, 4, FW), 3u);
  EXPECT_FALSE(line);
}

// Watchdog registers.
constexpr uint32_t kMod = 0x00, kTc = 0x04, kFeed = 0x08, kTv = 0x0C, kClkSel = 0x10;
constexpr uint32_t kCoreHz = 4000000;  // with the IRC: one watchdog count per four core cycles

void feed(Watchdog& w) {
  w.write(kFeed, 0xAA, 4, FW);
  w.write(kFeed, 0x55, 4, FW);
}

TEST(Watchdog, FeedingKeepsItAliveAndNotFeedingResetsTheChipKeepingWdtof) {
  Watchdog w;
  w.reset();
  EXPECT_EQ(w.read(kTc, 4, FW), 0xFFu);
  EXPECT_EQ(w.read(kTv, 4, FW), 0xFFu);
  w.write(kTc, 0x10, 4, FW);
  EXPECT_EQ(w.read(kTc, 4, FW), 0xFFu) << "WDTC never goes below 0xFF";
  w.write(kTc, 1000, 4, FW);
  w.write(kMod, 3, 4, FW);  // WDEN | WDRESET
  w.advance(100000, kCoreHz, 4);
  EXPECT_EQ(w.read(kTv, 4, FW), 0xFFu) << "nothing counts before the first feed";
  feed(w);
  EXPECT_EQ(w.cyclesToEvent(kCoreHz, 4), 4000u);
  for (int i = 0; i < 10; ++i) {
    w.advance(3000, kCoreHz, 4);
    EXPECT_EQ(w.read(kTv, 4, FW), 250u);
    feed(w);
  }
  EXPECT_FALSE(w.takeResetRequest()) << "fed in time";
  w.write(kMod, 0, 4, FW);
  EXPECT_EQ(w.read(kMod, 4, FW), 3u) << "WDEN and WDRESET cannot be cleared by software";
  w.advance(3999, kCoreHz, 4);
  EXPECT_FALSE(w.takeResetRequest());
  w.advance(1, kCoreHz, 4);
  EXPECT_TRUE(w.takeResetRequest());
  w.reset();  // the chip reset it asked for
  EXPECT_EQ(w.read(kMod, 4, FW), 4u) << "WDTOF survives the watchdog's own reset, WDEN does not";
  w.write(kMod, 0, 4, FW);
  EXPECT_EQ(w.read(kMod, 4, FW), 0u) << "the firmware clears WDTOF";
  w.reset();
  EXPECT_EQ(w.read(kMod, 4, FW), 0u) << "any other reset leaves it clear";
}

TEST(Watchdog, InterruptModeBadFeedAndClockSources) {
  Watchdog w;
  bool line = false;
  w.onLine = [&](bool l) { line = l; };
  w.reset();
  w.write(kMod, 1, 4, FW);  // WDEN, interrupt only
  feed(w);
  w.write(kFeed, 0xAA, 4, FW);
  EXPECT_FALSE(line);
  w.read(kTv, 4, DBG);
  EXPECT_FALSE(line) << "a debugger look is no access of the firmware's";
  w.read(kTv, 4, FW);  // anything but 0x55 after 0xAA
  EXPECT_TRUE(line) << "a bad feed times out at once";
  EXPECT_EQ(w.read(kMod, 4, FW), 0xDu) << "WDEN, WDTOF and WDINT";
  EXPECT_FALSE(w.takeResetRequest()) << "interrupt mode does not reset";

  Watchdog p;
  p.reset();
  p.write(kClkSel, 1 | (1u << 31), 4, FW);  // PCLK, locked
  p.write(kClkSel, 0, 4, FW);
  EXPECT_EQ(p.read(kClkSel, 4, FW), 0x80000001u) << "WDLOCK keeps the source";
  p.write(kMod, 1, 4, FW);
  feed(p);
  // PCLK = CCLK / 2, four PCLKs a count: 0xFF counts in 2040 cycles, whatever the core clock.
  EXPECT_EQ(p.cyclesToEvent(100000000, 2), 0xFFu * 8);
}

// RTC registers.
constexpr uint32_t kIlr = 0x00, kCcr = 0x08, kCiir = 0x0C, kAmr = 0x10, kCtime0 = 0x14, kCtime1 = 0x18,
                   kCtime2 = 0x1C, kSec = 0x20, kMin = 0x24, kHour = 0x28, kDom = 0x2C, kDow = 0x30,
                   kDoy = 0x34, kMonth = 0x38, kYear = 0x3C, kGpreg0 = 0x44, kAlSec = 0x60, kAlMin = 0x64;
constexpr uint32_t kRtcCore = 32768 * 100;  // exactly 100 core cycles per crystal tick
constexpr uint64_t kSecond = uint64_t(kRtcCore);

void setTime(Rtc& r, uint32_t year, uint32_t month, uint32_t dom, uint32_t doy, uint32_t dow, uint32_t hour,
             uint32_t min, uint32_t sec) {
  r.write(kYear, year, 4, FW), r.write(kMonth, month, 4, FW), r.write(kDom, dom, 4, FW);
  r.write(kDoy, doy, 4, FW), r.write(kDow, dow, 4, FW), r.write(kHour, hour, 4, FW);
  r.write(kMin, min, 4, FW), r.write(kSec, sec, 4, FW);
}

TEST(Rtc, SecondsCarryIntoMinutesHoursDaysMonthsAndYears) {
  Rtc r;
  r.reset();
  r.write(kCcr, 1, 4, FW);
  setTime(r, 2024, 2, 28, 59, 3, 23, 59, 58);  // 28 February of a leap year, 23:59:58
  r.advance(kSecond - 1, kRtcCore);
  EXPECT_EQ(r.read(kSec, 4, FW), 58u) << "one cycle short of a second";
  r.advance(1, kRtcCore);
  EXPECT_EQ(r.read(kSec, 4, FW), 59u);
  r.advance(kSecond, kRtcCore);
  EXPECT_EQ(r.read(kCtime0, 4, FW), 4u << 24) << "00:00:00 on day of week 4";
  EXPECT_EQ(r.read(kCtime1, 4, FW), 29u | 2u << 8 | 2024u << 16) << "29 February exists in 2024";
  EXPECT_EQ(r.read(kCtime2, 4, FW), 60u);
  r.advance(24 * 3600 * kSecond, kRtcCore);
  EXPECT_EQ(r.read(kDom, 4, FW), 1u);
  EXPECT_EQ(r.read(kMonth, 4, FW), 3u);
  EXPECT_EQ(r.read(kDow, 4, FW), 5u);

  setTime(r, 2023, 2, 28, 59, 6, 23, 59, 59);
  r.advance(kSecond, kRtcCore);
  EXPECT_EQ(r.read(kDom, 4, FW), 1u) << "no 29 February in 2023";
  EXPECT_EQ(r.read(kMonth, 4, FW), 3u);
  EXPECT_EQ(r.read(kDow, 4, FW), 0u) << "day of week wraps after 6";

  setTime(r, 2023, 12, 31, 365, 0, 23, 59, 59);
  r.advance(kSecond, kRtcCore);
  EXPECT_EQ(r.read(kCtime1, 4, FW), 1u | 1u << 8 | 2024u << 16) << "New Year";
  EXPECT_EQ(r.read(kDoy, 4, FW), 1u);

  setTime(r, 2023, 4, 30, 120, 0, 23, 59, 59);
  r.advance(kSecond, kRtcCore);
  EXPECT_EQ(r.read(kMonth, 4, FW), 5u) << "April has 30 days";

  r.write(kCcr, 3, 4, FW);  // CTCRST holds the count
  r.advance(10 * kSecond, kRtcCore);
  EXPECT_EQ(r.read(kSec, 4, FW), 0u);
  EXPECT_EQ(r.read(kMin, 4, FW), 0u);
}

TEST(Rtc, IncrementAndAlarmInterruptsAndBatteryBackedThroughChipReset) {
  Rtc r;
  bool line = false;
  r.onLine = [&](bool l) { line = l; };
  r.reset();
  r.write(kCcr, 1, 4, FW);
  setTime(r, 2024, 1, 1, 1, 1, 10, 0, 0);
  EXPECT_EQ(r.cyclesToEvent(kRtcCore), UINT64_MAX) << "nothing to interrupt: no slice needs to end";
  r.write(kCiir, 2, 4, FW);  // minutes
  r.write(kAmr, 0xFF, 4, FW);
  r.advance(59 * kSecond, kRtcCore);
  EXPECT_FALSE(line);
  EXPECT_EQ(r.cyclesToEvent(kRtcCore), kSecond);
  r.advance(kSecond, kRtcCore);
  EXPECT_TRUE(line) << "the minute changed";
  EXPECT_EQ(r.read(kIlr, 4, FW), 1u);
  r.write(kIlr, 1, 4, FW);
  EXPECT_FALSE(line);

  r.write(kCiir, 0, 4, FW);
  r.write(kAlSec, 30, 4, FW);
  r.write(kAlMin, 1, 4, FW);
  r.write(kAmr, 0xFF & ~3u, 4, FW);  // compare seconds and minutes
  r.advance(29 * kSecond, kRtcCore);
  EXPECT_FALSE(line);
  r.advance(kSecond, kRtcCore);
  EXPECT_EQ(r.read(kIlr, 4, FW), 2u) << "alarm at 10:01:30";
  r.write(kGpreg0, 0xC0FFEE, 4, FW);

  r.reset();  // a chip reset
  EXPECT_TRUE(line) << "the pending alarm is still requested after the reset";
  EXPECT_EQ(r.read(kSec, 4, FW), 30u);
  EXPECT_EQ(r.read(kMin, 4, FW), 1u);
  EXPECT_EQ(r.read(kCcr, 4, FW), 1u) << "still counting";
  EXPECT_EQ(r.read(kGpreg0, 4, FW), 0xC0FFEEu);
  r.advance(kSecond, kRtcCore);
  EXPECT_EQ(r.read(kSec, 4, FW), 31u);
}

TEST(Unmodelled, RegistersReadTheirResetValuesAndReadOnlyOnesIgnoreWrites) {
  Unmodelled ahb(0x50000000, 0x200000), apb1(0x40080000, 0x80000);
  EXPECT_EQ(ahb.read(0x5000C200, 4, FW), 0x10u) << "USBDevIntSt: CCEMPTY";
  EXPECT_EQ(ahb.read(0x50000000, 4, FW), 0x8000u) << "Ethernet MAC1 in soft reset";
  EXPECT_EQ(ahb.read(0x50000015, 1, FW), 0x06u) << "a byte of MAXF";
  EXPECT_EQ(apb1.read(0x400A8000, 4, FW), 0x87E1u) << "I2SDAO";
  EXPECT_EQ(apb1.read(0x400A8010, 4, FW), 7u) << "I2SSTATE";
  EXPECT_EQ(apb1.read(0x400BC004, 4, FW), 0u) << "QEISTAT";
  ahb.write(0x5000C200, 0, 4, FW);
  EXPECT_EQ(ahb.read(0x5000C200, 4, FW), 0x10u) << "a status register is read-only";
  ahb.write(0x50000000, 0x0001, 4, FW);
  EXPECT_EQ(ahb.read(0x50000000, 4, FW), 1u) << "a control register keeps what is written";
  ahb.reset();
  EXPECT_EQ(ahb.read(0x50000000, 4, FW), 0x8000u) << "back to the reset value";
  for (const ResetValue& r : unmodelledResetValues()) {
    // Every entry must lie in a window no model claims (the unmodelled windows of the map).
    bool inWindow = (r.address >= 0x40000000 && r.address < 0x40100000) ||
                    (r.address >= 0x50000000 && r.address < 0x50200000) || r.address >= 0xE0000000;
    EXPECT_TRUE(inWindow) << std::hex << r.address;
    EXPECT_EQ(r.address & 3, 0u) << std::hex << r.address;
  }
}

TEST(Unmodelled, TraceReportsEachRegisterOnceAndNotTheDebuggersLooks) {
  Unmodelled apb0(0x40000000, 0x80000);
  std::vector<std::pair<uint32_t, bool>> seen;
  apb0.onFirstAccess = [&](uint32_t a, bool w) { seen.emplace_back(a, w); };
  apb0.read(0x40028000, 4, DBG);
  EXPECT_TRUE(seen.empty()) << "debugger accesses are not the firmware's";
  apb0.write(0x40028001, 5, 1, FW);  // a byte of the word at ...000
  apb0.read(0x40028000, 4, FW);
  apb0.read(0x40028002, 2, FW);
  apb0.read(0x40028004, 4, FW);
  apb0.reset();
  apb0.read(0x40028000, 4, FW);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], std::make_pair(0x40028000u, true));
  EXPECT_EQ(seen[1], std::make_pair(0x40028004u, false));
}

}  // namespace
