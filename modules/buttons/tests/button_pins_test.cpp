// The buttons' pin writes through a stand-in host: the PORT2 word behind AgsiReadVTR/WriteVTR.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>

#include "bounce.h"
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

// RESET wired to a real bounce model, as the module wires it: every contact closing of a
// click (the press burst's and the release burst's) reaches the call-back, and the chip must be
// reset once per click.
TEST(ButtonPins, ResetFiresOncePerClickWhateverTheBounce) {
  korvel::testing::FakeHost host;
  std::map<std::string, float> settings{{"BTN_BOUNCE", 1},   {"BTN_MIN_BOUNCE", 4}, {"BTN_MAX_BOUNCE", 4},
                                        {"BTN_BASE_US", 1},  {"BTN_US_RANGE", 0},   {"BTN_SIGMA", 1},
                                        {"BTN_UP_BOUNCE_RATE", 1}};
  auto setting = [&settings](const std::string& key) { return settings.at(key); };
  korvel::buttons::BounceRandom random;
  korvel::buttons::configureBounceRandom(random, setting);
  korvel::buttons::BounceEnvironment env;
  env.setting = setting;
  korvel::buttons::ButtonModel button(env, random);
  korvel::buttons::ResetOnPress reset;
  std::atomic<int> closings{0};
  button.setCallback([&](ButtonState s) {
    if (s == ButtonState::Pressed) ++closings;
    reset.onTransition(host.table(), button.pressCount(), s);
  });

  ASSERT_TRUE(button.update(ButtonState::Pressed, true));
  button.waitUntilSettled();
  ASSERT_TRUE(button.update(ButtonState::Released, true));
  button.waitUntilSettled();
  ASSERT_EQ(closings.load(), 5) << "the click should bounce: 3 closings pressing, 2 releasing";
  EXPECT_EQ(host.resets(), 1) << "one click, one reset";

  ASSERT_TRUE(button.update(ButtonState::Pressed, true));
  button.waitUntilSettled();
  EXPECT_EQ(host.resets(), 2) << "the next click resets again";
  ASSERT_TRUE(button.update(ButtonState::Released, true));
  button.waitUntilSettled();
  EXPECT_EQ(host.resets(), 2) << "its release burst does not";

  settings["BTN_BOUNCE"] = 0;
  ASSERT_TRUE(button.update(ButtonState::Pressed, true));
  ASSERT_TRUE(button.update(ButtonState::Released, true));
  EXPECT_EQ(host.resets(), 3) << "a click without bounce resets once too";
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
