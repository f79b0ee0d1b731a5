// An LCD of its own wired to the array host, with a firmware-style driver on its pins.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "array_host.h"
#include "korvel/host_functions.h"
#include "lcd_bus_driver.h"
#include "lcd_peripheral.h"

class LcdFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    korvel_testing::ArrayHost::clear();
    korvel_testing::ArrayHost::install(host_);
    lcd_ = std::make_unique<pictor::LcdPeripheral>();
    current_ = lcd_.get();
    lcd_->bind(&host_);
    ASSERT_EQ(lcd_->defineSfrs(), 1);
    ASSERT_EQ(lcd_->defineVtregs(), 1);
    ASSERT_EQ(lcd_->defineWatches(&watch), 1);
    lcd_->glue().setLatchDrives(false);  // as once the LCD's component exists
    bus_.idle();
  }
  void TearDown() override { current_ = nullptr; }

  static void watch(uint32_t address, uint32_t) { current_->onPinWatch(address); }

  // Address counter to (x, y) and the entry mode most drivers use: both increments, AM = 0.
  void origin(uint16_t x, uint16_t y, uint16_t entryMode = 0x1030) {
    bus_.writeRegister(0x03, entryMode);
    bus_.writeRegister(0x20, x);
    bus_.writeRegister(0x21, y);
  }
  uint32_t frameAt(int column, int row) { return lcd_->frame().pixel(column, row); }

  inline static pictor::LcdPeripheral* current_ = nullptr;
  HostFunctionTable host_{};
  std::unique_ptr<pictor::LcdPeripheral> lcd_;
  korvel_testing::LcdBusDriver bus_;
};
