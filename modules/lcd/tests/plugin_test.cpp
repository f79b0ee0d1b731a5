// The built module library as the core loads it: its exports define the pins and the watch in
// the host's function table, and the firmware's bus cycles reach the controller through them.
#include <gtest/gtest.h>

#include "array_host.h"
#include "korvel/host_functions.h"
#include "lcd_bus_driver.h"

extern "C" {
int DefineAllSFR(void);
int DefineAllVTREG(void);
int DefineAllWatches(void);
int ResetPeripheral(void);
}

using korvel_testing::ArrayHost;
using korvel_testing::LcdBusDriver;

namespace {

TEST(PictorModule, FirmwareReachesTheControllerOnlyThroughTheStagesWatches) {
  ArrayHost::clear();
  ArrayHost::install(*getAgsi());
  ASSERT_EQ(DefineAllSFR(), 1);
  ASSERT_EQ(DefineAllVTREG(), 1);
  ASSERT_EQ(DefineAllWatches(), 1);
  ASSERT_EQ(ArrayHost::watches.size(), 2u) << "one watch on each pin register";
  EXPECT_EQ(ArrayHost::sfr(LcdBusDriver::kFio0Pin).name, "FIO0PIN");
  EXPECT_EQ(ArrayHost::sfr(LcdBusDriver::kFio2Pin).name, "FIO2PIN");

  LcdBusDriver bus;
  bus.idle();
  EXPECT_EQ(bus.readRegister(0x00), 0x9325);

  bus.writeRegister(0x03, 0x1030);
  bus.writeRegister(0x20, 5);
  bus.writeRegister(0x21, 7);
  bus.writeRegister(0x22, 0xF81F);
  bus.writeRegister(0x20, 5);
  bus.writeRegister(0x21, 7);
  EXPECT_EQ(bus.readRegister(0x22), 0xF81F) << "pixel written and read back through the pins";

  ASSERT_EQ(ResetPeripheral(), 1);
  bus.writeRegister(0x20, 5);
  bus.writeRegister(0x21, 7);
  EXPECT_EQ(bus.readRegister(0x22), 0x0000) << "reset clears the graphics RAM";
}

}  // namespace
