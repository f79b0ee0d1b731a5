// The joystick driven as its window and keys drive it, with PORT1 behind a stand-in host.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "fake_host.h"
#include "joystick_logic.h"

using namespace korvel::joystick;

namespace {

constexpr KVRect kClient{0, 0, 68, 68};  // centre (34, 34)

JoyDirection dragTo(int dx, int dyUp) { return directionFromPoint(true, kClient, 34 + dx, 34 - dyUp); }

TEST(DirectionFromPoint, DeadZoneEndsAtFifteenPixels) {
  EXPECT_EQ(dragTo(14, 0), JoyDirection::None) << "14 pixels right of the centre";
  EXPECT_EQ(dragTo(15, 0), JoyDirection::Right) << "15 pixels right of the centre";
  EXPECT_EQ(dragTo(0, -15), JoyDirection::Down);
  EXPECT_EQ(directionFromPoint(false, kClient, 60, 34), JoyDirection::None) << "not dragging";
}

TEST(DirectionFromPoint, SectorBoundaryFallsAtTwentyThreeWholeDegrees) {
  EXPECT_EQ(dragTo(100, 41), JoyDirection::Right) << "22.3 degrees";
  EXPECT_EQ(dragTo(100, 43), JoyDirection::UpRight) << "23.3 degrees";
  EXPECT_EQ(dragTo(0, 30), JoyDirection::Up);
  EXPECT_EQ(dragTo(-30, 30), JoyDirection::UpLeft);
  EXPECT_EQ(dragTo(-30, 0), JoyDirection::Left);
  EXPECT_EQ(dragTo(-30, -30), JoyDirection::DownLeft);
  EXPECT_EQ(dragTo(30, -30), JoyDirection::DownRight);
  EXPECT_EQ(dragTo(100, -41), JoyDirection::Right) << "338 degrees wraps to Right";
}

TEST(PortUpdate, UpWithCentrePressedTurnsZeroInto0x1C000000) {
  korvel::testing::FakeHost host;
  uint32_t port1 = host.defineVtr("PORT1", 0);
  portUpdate(host.table(), port1, JoyDirection::Up, 1);
  EXPECT_EQ(host.vtr(port1), 0x1C000000u) << "bits 26-28 high, 25 (centre) and 29 (up) low";
}

TEST(PortUpdate, LeavesOtherBitsAndRejectsInvalidDirections) {
  korvel::testing::FakeHost host;
  uint32_t port1 = host.defineVtr("PORT1", 0xC1FFFFFF);
  portUpdate(host.table(), port1, JoyDirection::None, 0);
  EXPECT_EQ(host.vtr(port1), 0xFFFFFFFFu);
  try {
    portUpdate(host.table(), port1, static_cast<JoyDirection>(8), 0);
    FAIL() << "direction 8 accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Invalid JoyDirection.");
  }
  EXPECT_EQ(host.writes(), 1) << "the invalid direction wrote nothing";
}

// A powered, drawn joystick wired to PORT1 as the module wires it.
struct Rig {
  korvel::testing::FakeHost host;
  uint32_t port1 = host.defineVtr("PORT1", 0);
  bool powered = true;
  int repaints = 0;
  std::vector<int> sounds;
  JoystickModel stick{{[this] { return powered; }, [this] { ++repaints; },
                       [this](int id) { sounds.push_back(id); }}};
  Rig() {
    stick.setOnChange([this](JoyDirection d, int p) { portUpdate(host.table(), port1, d, p); });
    stick.setDrawn();
  }
  void key(unsigned int vk, int down) {
    KeyEffect e = arrowKeyEffect(vk, down);
    stick.combineKeys(e.added, e.removed);
  }
  uint32_t lowPins() { return ~host.vtr(port1) & kAllPins; }
};

TEST(ArrowKeys, UpRightThenDownThenDownReleasedGivesDownRightThenRight) {
  Rig rig;
  rig.key(kVkUp, 1);
  rig.key(kVkRight, 1);
  EXPECT_EQ(rig.stick.direction(), JoyDirection::UpRight);
  EXPECT_EQ(rig.lowPins(), kUpPin | kRightPin) << "P1.28 and P1.29 low";
  rig.key(kVkDown, 1);
  EXPECT_EQ(rig.stick.direction(), JoyDirection::DownRight) << "Down turns Up off";
  EXPECT_EQ(rig.lowPins(), kDownPin | kRightPin);
  rig.key(kVkDown, 0);
  EXPECT_EQ(rig.stick.direction(), JoyDirection::Right);
  EXPECT_EQ(rig.lowPins(), kRightPin);
}

TEST(ArrowKeys, UpAndDownAreNeverLowTogether) {
  Rig rig;
  for (unsigned a : {kVkUp, kVkDown, kVkLeft, kVkRight})
    for (unsigned b : {kVkUp, kVkDown, kVkLeft, kVkRight}) {
      rig.key(a, 1);
      rig.key(b, 1);
      uint32_t low = rig.lowPins();
      EXPECT_FALSE((low & kUpPin) && (low & kDownPin)) << "keys " << a << " then " << b;
      EXPECT_FALSE((low & kLeftPin) && (low & kRightPin)) << "keys " << a << " then " << b;
      rig.key(a, 0);
      rig.key(b, 0);
    }
  EXPECT_EQ(rig.stick.direction(), JoyDirection::None);
}

TEST(ArrowKeys, IgnoredWhileTheMouseDragsTheKnob) {
  Rig rig;
  rig.stick.setDragging(true);
  rig.key(kVkLeft, 1);
  EXPECT_EQ(rig.stick.direction(), JoyDirection::None);
}

TEST(Drag, ReleasingTheButtonReturnsTheStickAndOpensAllDirections) {
  Rig rig;
  rig.stick.setDragging(true);
  rig.stick.setDirection(directionFromPoint(rig.stick.dragging(), kClient, 10, 10));
  EXPECT_EQ(rig.stick.direction(), JoyDirection::UpLeft);
  rig.stick.setDragging(false);
  rig.stick.setDirection(directionFromPoint(rig.stick.dragging(), kClient, 10, 10));
  EXPECT_EQ(rig.stick.direction(), JoyDirection::None);
  EXPECT_EQ(rig.lowPins(), 0u) << "P1.26 to P1.29 high again";
}

TEST(CentrePress, UnpoweredClickSoundsButLeavesTheCentrePin) {
  Rig rig;
  rig.powered = false;
  rig.stick.setPressed(1);
  rig.stick.setPressed(0);
  EXPECT_EQ(rig.sounds, (std::vector<int>{1001, 1002}));
  EXPECT_EQ(rig.host.writes(), 0) << "PORT1 untouched while unpowered";
  EXPECT_EQ(rig.repaints, 0);
}

TEST(CentrePress, PoweredPressPullsP1_25LowAndReleaseLetsItGo) {
  Rig rig;
  rig.stick.setPressed(1);
  EXPECT_EQ(rig.lowPins(), kCentrePin);
  rig.stick.setPressed(0);
  EXPECT_EQ(rig.lowPins(), 0u);
}

TEST(Unpowered, StickMovesWithoutWritingAndTheNextPoweredChangeWritesTheWholeState) {
  Rig rig;
  rig.powered = false;
  rig.key(kVkUp, 1);
  rig.stick.setPressed(1);
  EXPECT_EQ(rig.host.writes(), 0) << "a disabled joystick ignores keys as far as the pins go";
  rig.powered = true;
  rig.key(kVkLeft, 1);
  EXPECT_EQ(rig.lowPins(), kUpPin | kLeftPin | kCentrePin);
}

TEST(Knob, SitsElevenPixelsOutAlongTheDirection) {
  KVRect atRest = knobRect(34, 34, JoyDirection::None);
  EXPECT_EQ(atRest.left, 27);
  EXPECT_EQ(atRest.bottom, 41);
  KVRect right = knobRect(34, 34, JoyDirection::Right);
  EXPECT_EQ(right.left, 34 + 11 - 7);
  EXPECT_EQ(right.top, 27);
  KVRect up = knobRect(34, 34, JoyDirection::Up);
  EXPECT_EQ(up.top, 34 - 11 - 7);
  EXPECT_THROW(knobRect(34, 34, static_cast<JoyDirection>(-2)), std::runtime_error);
}

}  // namespace
