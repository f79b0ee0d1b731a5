// The A/D and D/A converters, PWM1 and the timers' pin functions: the models on their own, and
// through the simulator where pins, virtual registers and interrupts meet.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <vector>

#include "adc.h"
#include "agsi_host/functions.h"
#include "dac.h"
#include "korvel_sim/simulator.h"
#include "pwm.h"
#include "timers.h"

namespace {

using namespace korvel::sim;
constexpr Access FW = Access::Firmware;

// ---- ADC -------------------------------------------------------------------------------------
enum : uint32_t { kAdCr = 0x00, kAdGdr = 0x04, kAdInten = 0x0C, kAdDr0 = 0x10, kAdStat = 0x30 };
constexpr uint32_t kPdn = 1u << 21, kStartNow = 1u << 24, kBurst = 1u << 16, kDone = 1u << 31, kOverrun = 1u << 30;

struct AdcBench {
  Adc adc;
  std::vector<bool> line;
  double volts[8] = {0.0, 0.5, 1.0, 1.5, 2.0, 1.65, 3.0, 4.0};
  AdcBench() {
    adc.input = [this](int c) { return volts[c]; };
    adc.clockDivider = [] { return 4u; };  // PCLK = CCLK / 4
    adc.onLine = [this](bool l) { line.push_back(l); };
    adc.reset();
  }
};

TEST(Adc, SoftwareStartConvertsIn65AdcClocksWithTheInputVoltage) {
  AdcBench b;
  EXPECT_EQ(b.adc.read(kAdCr, 4, FW), 1u) << "reset: channel 0 selected";
  EXPECT_EQ(b.adc.read(kAdInten, 4, FW), 0x100u) << "reset: the global DONE interrupt enabled";
  // Channel 5, CLKDIV 3: an ADC clock is 4 PCLKs = 16 core cycles; 65 of them = 1040 cycles.
  b.adc.write(kAdCr, (1u << 5) | (3u << 8) | kPdn | kStartNow, 4, FW);
  b.adc.advance(1039);
  EXPECT_EQ(b.adc.read(kAdGdr, 4, Access::Debugger) & kDone, 0u) << "one core cycle early";
  b.adc.advance(1);
  uint32_t gdr = b.adc.read(kAdGdr, 4, FW);
  EXPECT_TRUE(gdr & kDone);
  EXPECT_EQ((gdr >> 4) & 0xFFF, 2048u) << "1.65 V of 3.3 V";
  EXPECT_EQ((gdr >> 24) & 7, 5u) << "CHN names the channel";
  EXPECT_EQ(b.adc.read(kAdGdr, 4, FW) & kDone, 0u) << "reading ADGDR clears its DONE";
  EXPECT_EQ(b.adc.read(kAdStat, 4, FW), (1u << 5) | (1u << 16)) << "DONE5 and ADINT";
  EXPECT_EQ(b.adc.read(kAdDr0 + 4 * 5, 4, FW), kDone | (2048u << 4));
  EXPECT_EQ(b.adc.read(kAdStat, 4, FW), 0u) << "reading ADDR5 clears its flags";
  b.adc.advance(100000);
  EXPECT_EQ(b.adc.read(kAdDr0 + 4 * 5, 4, FW) & kDone, 0u) << "one start, one conversion";

  b.adc.write(kAdCr, (1u << 5) | (3u << 8) | kStartNow, 4, FW);  // PDN clear
  b.adc.advance(100000);
  EXPECT_EQ(b.adc.read(kAdGdr, 4, FW) & kDone, 0u) << "a powered-down converter does nothing";

  EXPECT_EQ(Adc::code(-0.2), 0u);
  EXPECT_EQ(Adc::code(3.3), 4095u);
  EXPECT_EQ(Adc::code(5.0), 4095u) << "above the reference clamps";
  EXPECT_EQ(Adc::code(std::nan("")), 0u);
}

TEST(Adc, BurstScansTheSelectedChannelsAndFlagsOverrunOnUnreadResults) {
  AdcBench b;
  b.adc.write(kAdInten, 0, 4, FW);
  b.adc.write(kAdCr, (1u << 1) | (1u << 6) | kPdn | kBurst, 4, FW);  // CLKDIV 0: 65 * 4 cycles each
  b.adc.advance(260);
  EXPECT_EQ((b.adc.read(kAdGdr, 4, Access::Debugger) >> 24) & 7, 1u) << "the lowest channel first";
  b.adc.advance(260);
  uint32_t gdr = b.adc.read(kAdGdr, 4, Access::Debugger);
  EXPECT_EQ((gdr >> 24) & 7, 6u);
  EXPECT_EQ((gdr >> 4) & 0xFFF, 3723u) << "3.0 V";
  EXPECT_TRUE(gdr & kOverrun) << "the channel 1 result in ADGDR was not read";
  EXPECT_EQ(b.adc.read(kAdDr0 + 4 * 1, 4, FW) & (kDone | kOverrun), kDone) << "ADDR1 read once, no overrun yet";
  b.adc.advance(260 * 2);  // channels 1 and 6 again
  EXPECT_EQ(b.adc.read(kAdDr0 + 4 * 1, 4, FW) & kOverrun, 0u) << "ADDR1 was read before its next result";
  EXPECT_TRUE(b.adc.read(kAdStat, 4, FW) & (1u << (8 + 6))) << "ADDR6 overwritten unread: OVERRUN6";
  EXPECT_EQ(b.adc.read(kAdDr0 + 4 * 6, 4, FW) & (kDone | kOverrun), kDone | kOverrun);
  b.adc.write(kAdCr, (1u << 1) | (1u << 6) | kPdn, 4, FW);  // burst off
  b.adc.advance(10000);
  EXPECT_EQ(b.adc.read(kAdDr0 + 4 * 1, 4, FW) & kDone, kDone) << "the conversion under way completes";
  b.adc.advance(10000);
  EXPECT_EQ(b.adc.read(kAdDr0 + 4 * 1, 4, FW) & kDone, 0u) << "and then the scan stops";
}

TEST(Adc, ChannelInterruptRisesWithDoneAndFallsWhenTheResultIsRead) {
  AdcBench b;
  b.adc.write(kAdInten, 1u << 2, 4, FW);
  b.adc.write(kAdCr, (1u << 2) | kPdn | kStartNow, 4, FW);
  EXPECT_EQ(b.adc.cyclesToEvent(), 260u) << "the slice must end when the interrupt is due";
  b.adc.advance(260);
  ASSERT_FALSE(b.line.empty());
  EXPECT_TRUE(b.line.back());
  b.adc.read(kAdGdr, 4, FW);
  EXPECT_TRUE(b.line.back()) << "ADGDR is not the enabled source";
  b.adc.read(kAdDr0 + 8, 4, FW);
  EXPECT_FALSE(b.line.back());
}

// ---- DAC -------------------------------------------------------------------------------------
TEST(Dac, DoubleBufferedValuesWaitForTheTimeOutWhichSetsIntDmaReq) {
  Dac d;
  std::vector<double> out;
  d.onOutput = [&](double v) { out.push_back(v); };
  d.reset();
  d.write(0x8, 100, 4, FW);        // DACCNTVAL
  d.write(0x4, 2 | 4, 4, FW);      // DBLBUF_ENA, CNT_ENA
  d.write(0x0, 512u << 6, 4, FW);
  EXPECT_TRUE(out.empty()) << "held in the pre-buffer";
  EXPECT_EQ(d.cyclesToEvent(2), 200u) << "100 clocks at PCLK = CCLK / 2";
  d.advance(199, 2);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(d.read(0x4, 4, FW) & 1, 0u);
  d.advance(1, 2);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_DOUBLE_EQ(out[0], 1.65);
  EXPECT_EQ(d.read(0x4, 4, FW), 1u | 2 | 4) << "INT_DMA_REQ at the time-out";
  EXPECT_EQ(d.cyclesToEvent(2), UINT64_MAX) << "nothing waits";
  d.write(0x0, 256u << 6, 4, FW);
  EXPECT_EQ(d.read(0x4, 4, FW) & 1, 0u) << "a DACR write clears INT_DMA_REQ";
  d.advance(2 * 250, 2);  // two and a half periods: one transfer
  ASSERT_EQ(out.size(), 2u);
  EXPECT_DOUBLE_EQ(out[1], 0.825);
  EXPECT_EQ(d.cyclesToEvent(2), UINT64_MAX);
  d.write(0x4, 4, 4, FW);  // counter without double buffering: writes land at once
  d.write(0x0, 0, 4, FW);
  EXPECT_EQ(out.size(), 3u);
}

// ---- PWM1 ------------------------------------------------------------------------------------
enum : uint32_t { kPwIr = 0x00, kPwTcr = 0x04, kPwMcr = 0x14, kPwMr0 = 0x18, kPwMr1 = 0x1C, kPwPcr = 0x4C, kPwLer = 0x50 };

int highTicks(Pwm& p, int ticks) {
  int high = 0;
  for (int i = 0; i < ticks; ++i) {
    high += p.output(1);
    p.advance(1, 1);
  }
  return high;
}

TEST(Pwm, SingleEdgeOutputHoldsItsDutyAndNewMatchValuesWaitForTheLatch) {
  Pwm p;
  p.reset();
  p.write(kPwMr0, 99, 4, FW);
  p.write(kPwMr1, 25, 4, FW);
  p.write(kPwMcr, 2, 4, FW);        // reset on MR0: a period of 100 counts
  p.write(kPwPcr, 1u << 9, 4, FW);  // PWM1.1 out
  p.write(kPwTcr, 1 | 8, 4, FW);    // counter and PWM mode on
  EXPECT_EQ(highTicks(p, 300), 75) << "high for MR1 counts of every MR0 + 1";
  p.write(kPwMr1, 60, 4, FW);
  EXPECT_EQ(p.read(kPwMr1, 4, FW), 60u);
  EXPECT_EQ(highTicks(p, 200), 50) << "without LER the old match value stays in use";
  p.write(kPwLer, 1u << 1, 4, FW);
  p.advance(100, 1);  // past the next MR0 match
  EXPECT_EQ(p.read(kPwLer, 4, FW), 0u) << "the latch is used up";
  EXPECT_EQ(highTicks(p, 200), 120) << "the latched value from the next cycle on";
  EXPECT_TRUE(p.outputEnabled(1));
  EXPECT_FALSE(p.outputEnabled(2));
}

TEST(Pwm, DoubleEdgeOutputRisesAtTheLowerMatchAndFallsAtItsOwn) {
  Pwm p;
  p.reset();
  p.write(kPwMr0, 99, 4, FW);
  p.write(0x24, 20, 4, FW);              // MR3: PWM1.4 goes high
  p.write(0x40, 70, 4, FW);              // MR4: and low again
  p.write(kPwMcr, 2, 4, FW);
  p.write(kPwPcr, (1u << 4) | (1u << 12), 4, FW);  // PWM1.4 double edge, enabled
  p.write(kPwTcr, 1 | 8, 4, FW);
  std::vector<int> rises, falls;
  bool last = p.output(4);
  for (int t = 0; t < 200; ++t) {
    p.advance(1, 1);
    if (p.output(4) != last) (p.output(4) ? rises : falls).push_back(t + 1);
    last = p.output(4);
  }
  EXPECT_EQ(rises, (std::vector<int>{20, 120}));
  EXPECT_EQ(falls, (std::vector<int>{70, 170}));
}

TEST(Pwm, MatchInterruptsSetTheirIrBitsAndTheLine) {
  Pwm p;
  bool line = false;
  p.onLine = [&](bool l) { line = l; };
  p.reset();
  p.write(kPwMr0, 9, 4, FW);
  p.write(0x40, 4, 4, FW);                          // MR4
  p.write(kPwMcr, 2 | (1u << 12), 4, FW);           // reset on MR0, interrupt on MR4
  p.write(kPwTcr, 1, 4, FW);
  EXPECT_EQ(p.cyclesToEvent(2, false), 8u) << "4 counts at PCLK = CCLK / 2";
  p.advance(8, 2);
  EXPECT_EQ(p.read(kPwIr, 4, FW), 1u << 8) << "MR4's flag is IR bit 8";
  EXPECT_TRUE(line);
  p.write(kPwIr, 1u << 8, 4, FW);
  EXPECT_FALSE(line);
}

// ---- Timers: capture and match outputs -------------------------------------------------------
TEST(Timer, CaptureLatchesTheCountOnTheChosenEdgeAndInterrupts) {
  Timer t;
  bool line = false;
  t.onLine = [&](bool l) { line = l; };
  t.reset();
  t.write(0x28, 1 | 4, 4, FW);  // CCR: CAP0 rising edge, interrupt
  t.write(0x04, 1, 4, FW);
  t.advance(1234, 1);
  t.capturePin(0, false);
  EXPECT_EQ(t.read(0x2C, 4, FW), 0u) << "falling edges are not chosen";
  t.capturePin(0, true);
  EXPECT_EQ(t.read(0x2C, 4, FW), 1234u);
  EXPECT_EQ(t.read(0x00, 4, FW), 1u << 4) << "IR bit 4: CR0";
  EXPECT_TRUE(line);
  t.capturePin(1, true);
  EXPECT_EQ(t.read(0x30, 4, FW), 0u) << "CAP1 is not enabled";
}

TEST(Timer, ExternalMatchToggleSetAndClearWithoutAnyMcrBits) {
  Timer t;
  int changes = 0;
  t.onMatchOutputsChanged = [&] { ++changes; };
  t.reset();
  changes = 0;
  t.write(0x18, 9, 4, FW);         // MR0
  t.write(0x1C, 4, 4, FW);         // MR1
  t.write(0x14, 2, 4, FW);         // reset on MR0 only
  t.write(0x3C, (3u << 4) | (2u << 6), 4, FW);  // EMC0 toggle, EMC1 set
  t.write(0x04, 1, 4, FW);
  EXPECT_EQ(t.cyclesToEvent(1, true), 4u) << "a watched match output change ends the slice";
  EXPECT_EQ(t.cyclesToEvent(1, false), UINT64_MAX) << "unwatched, it waits for a pin read";
  t.advance(9, 1);
  EXPECT_TRUE(t.matchOutput(0));
  EXPECT_TRUE(t.matchOutput(1));
  t.advance(10, 1);
  EXPECT_FALSE(t.matchOutput(0)) << "toggled again one period later";
  EXPECT_EQ(changes, 3);
  t.write(0x3C, (1u << 4) | 1, 4, FW);  // EM0 set by hand, EMC0 clear
  EXPECT_TRUE(t.matchOutput(0));
  t.advance(10, 1);
  EXPECT_FALSE(t.matchOutput(0));
}

// ---- Through the simulator ---------------------------------------------------------------------
uint32_t peek(Simulator& sim, uint32_t address) {
  uint32_t v = 0;
  sim.read(address, 4, reinterpret_cast<uint8_t*>(&v));
  return v;
}
void poke(Simulator& sim, uint32_t address, uint32_t v) { sim.write(address, 4, reinterpret_cast<const uint8_t*>(&v)); }

std::vector<float> gAout;
uint32_t gAoutVtr = 0;
void onAout(uint32_t, uint32_t) {
  uint32_t v = 0;
  AgsiReadVTR(gAoutVtr, &v);
  gAout.push_back(std::bit_cast<float>(v));
}

class OnChip : public ::testing::Test {
 protected:
  void SetUp() override {
    agsi_host::Host::instance().clear();
    gAout.clear();
    sim.setRealTime(false);
  }
  Simulator sim;
};

TEST(AnalogVtrs, TheSimulatorDefinesAinAndAoutAsFloatsAndKeepsAPluginsOwnDefinition) {
  agsi_host::Host& host = agsi_host::Host::instance();
  host.clear();
  AgsiDefineVTR("AIN2", AGSIVTRFLOAT, std::bit_cast<uint32_t>(2.0f));  // defined first elsewhere
  Simulator sim;
  sim.setRealTime(false);
  int found = 0;
  for (const agsi_host::VtrInfo& v : host.vtrs())
    if (v.name.rfind("AIN", 0) == 0 || v.name == "AOUT") {
      ++found;
      EXPECT_EQ(v.type, uint32_t(AGSIVTRFLOAT)) << v.name;
    }
  EXPECT_EQ(found, 9) << "AIN0..AIN7 and AOUT";
  EXPECT_EQ(host.readVtr("AIN2"), std::bit_cast<uint32_t>(2.0f)) << "the first definition's value stays";
  poke(sim, Adc::kBase, (1u << 2) | kPdn | kStartNow);
  sim.runFor(0.001);
  EXPECT_EQ((peek(sim, Adc::kBase + kAdDr0 + 8) >> 4) & 0xFFF, 2482u) << "2.0 V";
}

TEST_F(OnChip, DacValueBecomesAoutVoltsAndFiresItsWatch) {
  gAoutVtr = AgsiDefineVTR("AOUT", AGSIVTRFLOAT, 0);
  ASSERT_TRUE(AgsiSetWatchOnVTR(gAoutVtr, onAout, AGSIWRITE));
  poke(sim, Dac::kBase, (512u << 6) | (1u << 16));  // half scale, BIAS
  ASSERT_EQ(gAout.size(), 1u);
  EXPECT_FLOAT_EQ(gAout[0], 1.65f);
  EXPECT_EQ(peek(sim, Dac::kBase), (512u << 6) | (1u << 16));
  poke(sim, Dac::kBase, (512u << 6) | 0x3F);  // the low bits hold nothing
  EXPECT_EQ(gAout.size(), 1u) << "the same voltage again fires nothing";
  poke(sim, Dac::kBase, 1023u << 6);
  ASSERT_EQ(gAout.size(), 2u);
  EXPECT_NEAR(gAout[1], 3.3 * 1023 / 1024, 1e-6);
}

TEST_F(OnChip, AdcConvertsTheAinVoltageAndRaisesItsNvicInterrupt) {
  uint32_t ain = AgsiDefineVTR("AIN5", AGSIVTRFLOAT, std::bit_cast<uint32_t>(1.0f));
  (void)ain;
  poke(sim, 0xE000E100, 1u << 22);  // NVIC: enable the ADC interrupt
  poke(sim, Adc::kBase + kAdInten, 1u << 5);
  poke(sim, Adc::kBase, (1u << 5) | kPdn | kStartNow);
  sim.runFor(0.001);
  EXPECT_EQ(peek(sim, Adc::kBase + kAdDr0 + 20), kDone | (1241u << 4)) << "1.0 V from AIN5";
  EXPECT_TRUE(peek(sim, 0xE000E200) & (1u << 22)) << "the ADC interrupt is pending";
  agsi_host::Host::instance().writeVtr("AIN5", std::bit_cast<uint32_t>(2.5f), false);
  poke(sim, Adc::kBase, (1u << 5) | kPdn | kStartNow);
  sim.runFor(0.001);
  EXPECT_EQ((peek(sim, Adc::kBase + kAdGdr) >> 4) & 0xFFF, 3102u) << "a new voltage, a new result";
}

TEST_F(OnChip, TimerCounterModeCountsA500HzSquareWaveOnItsCapPin) {
  AgsiDefineVTR("PORT1", AGSIVTRLONG, 0);
  agsi_host::Host::instance().writeVtr("PORT1", 0, false);  // pins float high until the board drives them
  poke(sim, 0x4002C00C, 3u << 20);       // PINSEL3: P1.26 is CAP0.0
  poke(sim, Timer::kBases[0] + 0x70, 1);  // CTCR: rising edges of CAP0.0
  poke(sim, Timer::kBases[0] + 0x04, 1);
  for (int i = 1; i <= 100; ++i) {
    uint32_t level = (i % 2) ? (1u << 26) : 0;
    sim.at(i * 0.001, [level] { agsi_host::Host::instance().writeVtr("PORT1", level, false); });
  }
  sim.runFor(0.1005);
  EXPECT_EQ(peek(sim, Timer::kBases[0] + 0x08), 50u) << "50 rising edges in 0.1 s, not the peripheral clock";

  // Given back to GPIO, the pin's edges no longer reach the timer; selected again, they do.
  poke(sim, 0x4002C00C, 0);
  for (int i = 1; i <= 4; ++i) {
    uint32_t level = (i % 2) ? (1u << 26) : 0;
    sim.at(0.1 + i * 0.001, [level] { agsi_host::Host::instance().writeVtr("PORT1", level, false); });
  }
  sim.runFor(0.005);
  EXPECT_EQ(peek(sim, Timer::kBases[0] + 0x08), 50u) << "P1.26 is a GPIO pin now";
  poke(sim, 0x4002C00C, 3u << 20);
  for (int i = 1; i <= 4; ++i) {
    uint32_t level = (i % 2) ? (1u << 26) : 0;
    sim.at(0.106 + i * 0.001, [level] { agsi_host::Host::instance().writeVtr("PORT1", level, false); });
  }
  sim.runFor(0.005);
  EXPECT_EQ(peek(sim, Timer::kBases[0] + 0x08), 52u) << "CAP0.0 again: two more rising edges";
}

TEST_F(OnChip, CaptureLatchesTheCountAtAPinEdgeAndMatchTogglesDriveTheirPin) {
  AgsiDefineVTR("PORT0", AGSIVTRLONG, 0);
  agsi_host::Host::instance().writeVtr("PORT0", 0, false);
  uint32_t t3 = Timer::kBases[3];
  poke(sim, 0x4002C004, 3u << 14);  // PINSEL1: P0.23 is CAP3.0
  poke(sim, 0xE000E100, 1u << 4);   // NVIC: timer 3
  poke(sim, t3 + 0x28, 1 | 4);      // capture on a rising edge, interrupt
  poke(sim, t3 + 0x04, 1);          // counting PCLK: 4 MHz / 4 = 1 MHz after reset
  sim.at(0.010, [] { agsi_host::Host::instance().writeVtr("PORT0", 1u << 23, false); });
  sim.runFor(0.02);
  EXPECT_NEAR(double(peek(sim, t3 + 0x2C)), 10000.0, 2.0) << "TC at the edge, 10 ms after the start";
  EXPECT_EQ(peek(sim, t3 + 0x00), 1u << 4);
  EXPECT_TRUE(peek(sim, 0xE000E200) & (1u << 4)) << "timer 3's interrupt is pending";

  // MAT3.0 on P0.10 toggles every 1000 counts.
  poke(sim, 0x4002C000, 3u << 20);  // PINSEL0: P0.10 is MAT3.0
  poke(sim, t3 + 0x18, 999);
  poke(sim, t3 + 0x14, 2);
  poke(sim, t3 + 0x04, 2);
  poke(sim, t3 + 0x3C, 3u << 4);
  poke(sim, t3 + 0x04, 1);
  std::vector<bool> levels;
  for (int i = 0; i < 6; ++i) {
    sim.runFor(0.0005);
    levels.push_back(peek(sim, 0x2009C014) & (1u << 10));
  }
  EXPECT_EQ(levels, (std::vector<bool>{false, true, true, false, false, true}));
}

TEST_F(OnChip, PwmOutputDrivesItsPinOnlyWhereThePinConnectBlockSelectsIt) {
  poke(sim, Pwm::kBase + kPwMr0, 999);  // 1000 counts at 1 MHz: 1 ms
  poke(sim, Pwm::kBase + kPwMr1, 250);
  poke(sim, Pwm::kBase + kPwMcr, 2);
  poke(sim, Pwm::kBase + kPwPcr, 1u << 9);
  poke(sim, Pwm::kBase + kPwTcr, 1 | 8);
  int high = 0, selectedHigh = 0;
  for (int i = 0; i < 40; ++i) {
    sim.runFor(0.0001);
    high += (peek(sim, 0x2009C054) & 1) != 0;  // FIO2PIN: P2.0 still GPIO (input, pulled high)
  }
  EXPECT_EQ(high, 40) << "a GPIO pin is not the PWM's";
  poke(sim, 0x4002C010, 1);  // PINSEL4: P2.0 is PWM1.1
  for (int i = 0; i < 40; ++i) {
    sim.runFor(0.00005 + 0.0001);
    selectedHigh += (peek(sim, 0x2009C054) & 1) != 0;
  }
  EXPECT_NEAR(selectedHigh, 10, 1) << "a quarter of the samples across the period";
}

std::vector<std::pair<uint64_t, bool>> gEdges;
void onPort2(uint32_t, uint32_t) {
  uint32_t pin = 0, prev = 0;
  AgsiReadSFR(0x2009C054, &pin, &prev, 1);
  gEdges.push_back({AgsiGetStates(), pin & 1});
}

TEST_F(OnChip, AWatchedPwmPinChangesAtItsExactTimes) {
  gEdges.clear();
  ASSERT_TRUE(AgsiSetWatchOnSFR(0x2009C054, onPort2, AGSIWRITE));
  poke(sim, 0x4002C010, 1);  // P2.0 is PWM1.1
  poke(sim, Pwm::kBase + kPwMr0, 99);  // 100 counts at PCLK = 1 MHz: 400 core cycles at 4 MHz
  poke(sim, Pwm::kBase + kPwMr1, 30);
  poke(sim, Pwm::kBase + kPwMcr, 2);
  poke(sim, Pwm::kBase + kPwPcr, 1u << 9);
  poke(sim, Pwm::kBase + kPwTcr, 1 | 8);
  sim.runFor(0.001);
  ASSERT_GE(gEdges.size(), 6u);
  for (size_t i = 1; i + 1 < gEdges.size(); ++i) {
    EXPECT_NE(gEdges[i].second, gEdges[i - 1].second) << "every report is a change";
    uint64_t held = gEdges[i + 1].first - gEdges[i].first;
    EXPECT_EQ(held, gEdges[i].second ? 120u : 280u) << "30 of 100 counts high, 4 core cycles a count";
  }
}

}  // namespace
