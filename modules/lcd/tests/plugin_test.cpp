// The LCD as the firmware meets it in the simulator: the real plug-in (a staged copy of the core
// with the base, LCD and touch bundles) loaded by the test host, every bus cycle played pin by
// pin as stores to FIO0PIN and FIO2PIN, and every level the LCD drives read from "PORT2".
#include <gtest/gtest.h>

#include <algorithm>

#include "korvel/agsi.h"
#include "staged_plugin.h"

using korvel_testing::PluginLcdBus;
using korvel_testing::StagedPlugin;

namespace {

constexpr uint32_t kFio0Pin = PluginLcdBus::kFio0Pin;
constexpr uint32_t kFio2Pin = PluginLcdBus::kFio2Pin;

class PictorPlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    // The core's reset stage also arms timer scaling, which needs the firmware's ScaleFlag.
    plugin_.host().addSymbol("ScaleFlag", 0x10000000);
    ASSERT_NO_FATAL_FAILURE(plugin_.load());
  }

  uint32_t port2() { return plugin_.host().vtr("PORT2").value_or(0xDEADBEEF); }

  StagedPlugin plugin_;
  PluginLcdBus bus_ = plugin_.bus();
};

TEST_F(PictorPlugin, DefinesBothPinRegistersAndPort2) {
  auto sfrs = plugin_.host().host().sfrs();
  auto named = [&](const char* name, uint32_t address) {
    return std::any_of(sfrs.begin(), sfrs.end(), [&](const agsi_host::SfrDefinition& d) {
      return d.name == name && d.address == address;
    });
  };
  EXPECT_TRUE(named("FIO0PIN", kFio0Pin)) << plugin_.host().output();
  EXPECT_TRUE(named("FIO2PIN", kFio2Pin)) << plugin_.host().output();
  EXPECT_TRUE(plugin_.host().vtr("PORT2").has_value()) << "no PORT2 virtual register";
}

TEST_F(PictorPlugin, DeviceCodeReadDrivesHighByteWithEnLowAndLowByteWithEnHigh) {
  // Bit 11 of PORT2 is a button's: the LCD changes only P2.7..0.
  ASSERT_TRUE(plugin_.host().writeVtr("PORT2", 0x800));
  bus_.idle();
  bus_.writeIndex(0x0000);
  bus_.clr(PluginLcdBus::DIR | PluginLcdBus::EN);
  bus_.clr(PluginLcdBus::CS);
  bus_.clr(PluginLcdBus::RD);
  EXPECT_EQ(port2() & 0xFF, 0x93u) << "P2.7..0 with EN = 0 (high byte of the device code)";
  EXPECT_EQ(port2() & 0x800, 0x800u) << "a PORT2 bit outside P2.7..0 was changed";
  bus_.set(PluginLcdBus::EN);
  EXPECT_EQ(port2() & 0xFF, 0x25u) << "P2.7..0 with EN = 1 (low byte of the device code)";
  bus_.set(PluginLcdBus::RD | PluginLcdBus::CS);
  bus_.set(PluginLcdBus::DIR);
  EXPECT_EQ(bus_.readRegister(0x0000), 0x9325) << "the whole read as a driver makes it";
}

TEST_F(PictorPlugin, GreenInResetFormatReadsBackUnchangedAndAdvancesTheCounter) {
  bus_.idle();
  bus_.writeRegister(0x03, 0x1030);
  bus_.writeRegister(0x20, 5);
  bus_.writeRegister(0x21, 7);
  bus_.writeRegister(0x22, 0x07E0);
  bus_.writeRegister(0x22, 0xF800);
  bus_.writeRegister(0x20, 5);
  bus_.writeRegister(0x21, 7);
  EXPECT_EQ(bus_.readRegister(0x22), 0x07E0) << "first read after setting the address, no dummy";
  EXPECT_EQ(bus_.readRegister(0x22), 0xF800) << "the read moved the counter to (6, 7)";
}

TEST_F(PictorPlugin, FullScreenFillReturnsTheCounterToTheOrigin) {
  bus_.idle();
  bus_.writeRegister(0x03, 0x1030);
  bus_.writeRegister(0x20, 0);
  bus_.writeRegister(0x21, 0);
  bus_.beginGram();
  for (int i = 0; i < 240 * 320; ++i) bus_.pixel(0x07E0);
  bus_.endGram();
  // The next pixel, written without an address, lands where the counter stands.
  bus_.writeRegister(0x22, 0xF800);
  bus_.writeRegister(0x20, 0);
  bus_.writeRegister(0x21, 0);
  EXPECT_EQ(bus_.readRegister(0x22), 0xF800) << "the counter did not come back to (0, 0)";
  EXPECT_EQ(bus_.readRegister(0x22), 0x07E0) << "(1, 0) lost the fill";
  bus_.writeRegister(0x20, 239);
  bus_.writeRegister(0x21, 319);
  EXPECT_EQ(bus_.readRegister(0x22), 0x07E0) << "the last pixel of the fill is missing";
}

TEST_F(PictorPlugin, HostResetClearsTheGraphicsRam) {
  bus_.idle();
  bus_.writeRegister(0x20, 5);
  bus_.writeRegister(0x21, 7);
  bus_.writeRegister(0x22, 0xF81F);
  ASSERT_NE(plugin_.host().reset(), 0u) << plugin_.host().output();
  bus_.writeRegister(0x20, 5);
  bus_.writeRegister(0x21, 7);
  EXPECT_EQ(bus_.readRegister(0x22), 0x0000) << "the reset stage left the pixel";
}

}  // namespace
