// The touch controller's finer rules as firmware meets them: bytes written to SSP1 (reported on
// SSP1_OUT) and reads of the SSP1 data register, through the array host. (The pen's answers and
// P2.13 are played through the real plug-in and the mouse in the board GUI test.)
#include <gtest/gtest.h>

#include <vector>

#include "array_host.h"
#include "touch_serial.h"

using korvel_testing::ArrayHost;
using palmett::kSsp1Data;

namespace {

class TouchFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ArrayHost::clear();
    ArrayHost::install(host_);
    current_ = &serial_;
    serial_.bind(&host_);
    serial_.setFinder([this] {
      return panelPresent_ ? palmett::PanelRef{&touch_, enabled_} : palmett::PanelRef{};
    });
    ASSERT_EQ(serial_.defineVtregs(), 1);
    ASSERT_EQ(serial_.defineWatches(&sent, &read), 1);
  }
  static void sent(uint32_t, uint32_t) { current_->onByteSent(); }
  static void read(uint32_t address, uint32_t) { current_->onDataRead(address); }

  // Firmware: write a byte to SSP1DR, then read SSP1DR once.
  uint8_t exchange(uint8_t byte) {
    send(byte);
    return static_cast<uint8_t>(ArrayHost::firmwareRead(kSsp1Data));
  }
  void send(uint8_t byte) { ArrayHost::simulatorWriteVtr("SSP1_OUT", byte); }
  std::vector<int> conversion(uint8_t command, int bytes) {
    std::vector<int> got{exchange(command)};
    for (int i = 1; i < bytes; ++i) got.push_back(exchange(0x00));
    return got;
  }

  inline static palmett::TouchSerial* current_ = nullptr;
  HostFunctionTable host_{};
  palmett::TouchSerial serial_;
  palmett::TouchController touch_;
  bool panelPresent_ = true;
  bool enabled_ = true;
};

TEST_F(TouchFixture, OtherChannelsAnswerOnlyTheFirstByte) {
  touch_.press(120, 160);
  EXPECT_EQ(conversion(0xA0, 3), (std::vector<int>{0x80, 0x00, 0x00}));
}

TEST_F(TouchFixture, EachByteSentServesExactlyOneRead) {
  touch_.press(120, 160);
  EXPECT_EQ(exchange(0x90), 0x80);
  ArrayHost::sfr(kSsp1Data).value = 0x5A;  // what the register holds without an answer
  EXPECT_EQ(ArrayHost::firmwareRead(kSsp1Data), 0x5Au) << "a second read was served";
  EXPECT_EQ(exchange(0x00), 0x7F) << "the queue must not have moved";
}

TEST_F(TouchFixture, StartBitInsideAConversionIsDataUnlessTheResultWasClockedOut) {
  touch_.press(120, 160);
  exchange(0x90);  // command + one read: 16 bits
  EXPECT_EQ(exchange(0xD0), 0x80) << "at 16 bits D0h starts a new command";
  EXPECT_EQ(touch_.controlByte(), 0xD0);

  send(0x90);  // 8 bits, no read
  send(0xD0);  // still inside the 12-bit conversion
  EXPECT_EQ(touch_.controlByte(), 0x90) << "D0h was taken as a command at 8 bits";
  EXPECT_EQ(touch_.queue().back(), 0xFF) << "a start bit inside a conversion queues FFh";

  send(0x98);                     // 8-bit command
  touch_.answer(true);            // 16 bits
  send(0xD8);                     // 24: past the 8-bit span of 11 bits
  EXPECT_EQ(touch_.controlByte(), 0xD8);
}

TEST_F(TouchFixture, BytesBelowTheStartBitQueueZero) {
  touch_.press(120, 160);
  send(0x90);
  send(0x12);
  EXPECT_EQ(touch_.queue().back(), 0x00);
  EXPECT_EQ(touch_.bitCounter(), 16);
}

TEST_F(TouchFixture, DisabledPanelAnswersZeroAndKeepsItsQueue) {
  touch_.press(120, 160);
  enabled_ = false;
  EXPECT_EQ(exchange(0x90), 0x00);
  EXPECT_EQ(touch_.queue().size(), 3u) << "a disabled panel consumed an answer";
  enabled_ = true;
  EXPECT_EQ(exchange(0x00), 0x80);
}

TEST_F(TouchFixture, WithoutAPanelNothingIsAnsweredButTheReadIsServed) {
  panelPresent_ = false;
  send(0x90);
  ArrayHost::sfr(kSsp1Data).value = 0x33;
  EXPECT_EQ(ArrayHost::firmwareRead(kSsp1Data), 0x33u);
  EXPECT_EQ(touch_.bitCounter(), 0);
}

TEST_F(TouchFixture, ResetForgetsThatTheLastReadWasServed) {
  touch_.press(120, 160);
  exchange(0x90);
  serial_.reset();
  EXPECT_EQ(ArrayHost::firmwareRead(kSsp1Data), 0x7Fu);
}

TEST(TouchPen, DragOutsideKeepsThePenDownAtAnUnknownPosition) {
  palmett::TouchController touch;
  touch.press(10, 20);
  touch.drag(300, 20, false);
  EXPECT_TRUE(touch.penDown());
  EXPECT_EQ(touch.x(), -1);
  EXPECT_EQ(touch.y(), -1);
  touch.drag(50, 60, true);
  EXPECT_EQ(touch.x(), 50);
  touch.release();
  EXPECT_FALSE(touch.penDown());
  EXPECT_EQ(touch.x(), -1);
}

}  // namespace
