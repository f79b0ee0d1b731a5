// The latch and transceivers between the 8-bit port and the 16-bit bus, driven directly.
#include <gtest/gtest.h>

#include <memory>

#include "lcd_bus_glue.h"

using namespace pictor;

namespace {

struct Glue {
  std::unique_ptr<FrameBuffer> frame = std::make_unique<FrameBuffer>();
  LcdController lcd{*frame};
  LcdBusGlue glue{lcd};
};

constexpr uint32_t kIdle = pin::kDir | pin::kCs | pin::kRs | pin::kWr | pin::kRd;

TEST(LcdBusGlue, LatchHoldsTheLowByteOnceLeFalls) {
  Glue g;
  g.glue.controlPortEvent(kIdle);
  g.glue.dataPortEvent(0x34);
  g.glue.controlPortEvent(kIdle | pin::kLe);
  g.glue.controlPortEvent(kIdle);
  g.glue.dataPortEvent(0x12);
  EXPECT_EQ(g.glue.latchOutput(), 0x34);
  EXPECT_EQ(g.lcd.busValue(), 0x1234) << "high byte from the transceivers, low from the latch";
  g.glue.controlPortEvent(kIdle | pin::kLe);
  EXPECT_EQ(g.lcd.busValue(), 0x1212) << "a transparent latch passes the port";
}

TEST(LcdBusGlue, LatchDrivesTheLowByteOnlyTowardsTheLcd) {
  Glue g;
  g.glue.setLatchDrives(false);
  g.glue.controlPortEvent(kIdle | pin::kLe);
  g.glue.dataPortEvent(0x55);
  EXPECT_EQ(g.glue.busValue() & 0xFF, 0x55);
  g.glue.controlPortEvent((kIdle | pin::kLe) & ~pin::kDir);
  EXPECT_EQ(g.glue.busValue() & 0xFF, 0) << "with DIR = 0 the latch output is off";
}

TEST(LcdBusGlue, LinesChangedByOneWriteAreEvaluatedInOrderCsRsWrRd) {
  Glue g;
  g.glue.controlPortEvent(kIdle);
  g.glue.dataPortEvent(0x07);
  g.glue.controlPortEvent(kIdle | pin::kLe);
  g.glue.controlPortEvent(kIdle);
  g.glue.dataPortEvent(0x00);
  // CS, RS and WR fall in one write: the index write is seen once WR is low.
  g.glue.controlPortEvent(pin::kDir | pin::kRd);
  EXPECT_EQ(g.lcd.index(), 0x0007);
  // RS and WR rise together, then WR falls with RS high: a data write of the same bus value.
  g.glue.controlPortEvent(pin::kDir | pin::kRd | pin::kRs | pin::kWr);
  g.glue.controlPortEvent(pin::kDir | pin::kRd | pin::kRs);
  EXPECT_EQ(g.lcd.reg(0x07), 0x0007u);
}

TEST(LcdBusGlue, ReadsComeBackThroughTheSelectedTransceiver) {
  Glue g;
  g.glue.controlPortEvent(kIdle);
  // Select register 00h, then read it.
  g.glue.controlPortEvent(pin::kDir | pin::kRd);
  g.glue.controlPortEvent(kIdle);
  EXPECT_EQ(g.glue.controlPortEvent(pin::kRs | pin::kWr), 0x93) << "EN = 0: high byte";
  EXPECT_EQ(g.glue.controlPortEvent(pin::kRs | pin::kWr | pin::kEn), 0x25) << "EN = 1: low byte";
  EXPECT_EQ(g.glue.controlPortEvent(pin::kRs | pin::kWr | pin::kEn | pin::kRd | pin::kCs), 0)
      << "a deselected controller drives nothing";
  EXPECT_EQ(g.glue.controlPortEvent(kIdle), -1) << "towards the LCD the port is not driven";
}

// While data streams in only LE and WR toggle, and the glue takes a short way; anything else
// that changed (here a line the controller was set to behind the glue, and a read in between)
// must still be seen.
TEST(LcdBusGlue, StreamingWritesStayExactAroundReadsAndLinesChangedElsewhere) {
  Glue g;
  constexpr uint32_t kSelected = pin::kDir | pin::kRs | pin::kWr | pin::kRd;  // CS low, data
  g.glue.controlPortEvent(kIdle);
  auto writeWord = [&](uint16_t v) {
    g.glue.dataPortEvent(v & 0xFF);
    g.glue.controlPortEvent(kSelected | pin::kLe);
    g.glue.controlPortEvent(kSelected);
    g.glue.dataPortEvent(v >> 8);
    g.glue.controlPortEvent(kSelected & ~pin::kWr);
    g.glue.controlPortEvent(kSelected);
  };
  // Index 0x0007 (RS low), then data words into it.
  g.glue.dataPortEvent(0x07);
  g.glue.controlPortEvent(kIdle | pin::kLe);
  g.glue.controlPortEvent(kIdle);
  g.glue.dataPortEvent(0x00);
  g.glue.controlPortEvent(pin::kDir | pin::kRd);
  g.glue.controlPortEvent(pin::kDir | pin::kRd | pin::kWr);
  writeWord(0x1234);
  EXPECT_EQ(g.lcd.reg(0x07), 0x1234u);
  // Deselected behind the glue's back: the next write strobe must not reach the controller
  // until the glue has put CS back to what the pins say.
  g.lcd.setCs(true);
  writeWord(0x5678);
  EXPECT_FALSE(g.lcd.cs());
  EXPECT_EQ(g.lcd.reg(0x07), 0x5678u);
  // A read in between turns the transceivers round (RD low, EN = 1: the low byte of 07h);
  // streaming afterwards drives the bus again.
  EXPECT_EQ(g.glue.controlPortEvent(pin::kRs | pin::kWr | pin::kEn), 0x78);
  g.glue.controlPortEvent(kSelected);
  writeWord(0x9ABC);
  EXPECT_EQ(g.lcd.reg(0x07), 0x9ABCu);
  EXPECT_EQ(g.glue.latchOutput(), 0xBC);
}

}  // namespace
