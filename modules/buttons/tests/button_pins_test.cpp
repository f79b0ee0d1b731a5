// The buttons' pin writes through a stand-in host: the PORT2 word behind AgsiReadVTR/WriteVTR.
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "button_pins.h"
#include "fake_host.h"

using korvel::buttons::driveButtonPin;
using korvel::buttons::portWithButton;

namespace {

TEST(ButtonPins, PressPullsOnlyItsOwnBitLowAndReleaseSetsItHigh) {
  korvel::testing::FakeHost host;
  uint32_t vtr = host.defineVtr("PORT2", 0xFFFFFFFF);
  driveButtonPin(host.table(), vtr, 0x800, ButtonState::Pressed);
  EXPECT_EQ(host.vtr(vtr), 0xFFFFF7FFu) << "P2.11 low, every other bit untouched";
  driveButtonPin(host.table(), vtr, 0x800, ButtonState::Released);
  EXPECT_EQ(host.vtr(vtr), 0xFFFFFFFFu);
}

TEST(ButtonPins, InvalidStateIsRejectedAndNothingIsWritten) {
  korvel::testing::FakeHost host;
  uint32_t vtr = host.defineVtr("PORT2", 0x1234);
  try {
    driveButtonPin(host.table(), vtr, 0x800, static_cast<ButtonState>(2));
    FAIL() << "state 2 was accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Invalid button state.");
  }
  EXPECT_EQ(host.writes(), 0);
}

TEST(ButtonPins, ResetFiresOnPressOnly) {
  korvel::testing::FakeHost host;
  korvel::buttons::resetOnPress(host.table(), ButtonState::Released);
  EXPECT_EQ(host.resets(), 0);
  korvel::buttons::resetOnPress(host.table(), ButtonState::Pressed);
  EXPECT_EQ(host.resets(), 1);
}

TEST(ButtonPins, TwoButtonsBouncingAtOnceLoseNeitherBit) {
  korvel::testing::FakeHost host;
  uint32_t vtr = host.defineVtr("PORT2", 0);
  auto hammer = [&](uint32_t mask) {
    for (int i = 0; i < 2000; ++i) {
      driveButtonPin(host.table(), vtr, mask, ButtonState::Pressed);
      driveButtonPin(host.table(), vtr, mask, ButtonState::Released);
    }
  };
  std::thread a(hammer, 0x800), b(hammer, 0x1000);
  a.join();
  b.join();
  EXPECT_EQ(host.vtr(vtr), 0x1800u) << "both pins must end released (high)";
}

TEST(ButtonPins, Int0FollowsPowerOnlyWhileJumperConnects) {
  using korvel::buttons::int0Enabled;
  EXPECT_EQ(int0Enabled(1, 1), 1);
  EXPECT_EQ(int0Enabled(1, 0), 0) << "unpowered board: INT0 stays off even when connected";
  EXPECT_EQ(int0Enabled(0, 1), 0) << "cap removed: INT0 disconnected";
}

TEST(ButtonWiring, KeysAndPinsMatchTheBoard) {
  const auto& w = korvel::buttons::kButtonWiring;
  EXPECT_EQ(w[0].key, 0x31u);
  EXPECT_EQ(w[3].mask, 0u) << "RESET drives no port pin";
  for (const auto& b : w) EXPECT_EQ(b.rect.width(), 32) << b.id << " is 32 pixels wide";
}

}  // namespace
