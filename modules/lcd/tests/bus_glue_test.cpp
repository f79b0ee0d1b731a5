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

}  // namespace
