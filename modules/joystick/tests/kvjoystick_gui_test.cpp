// KVJoystick on screen: dragging the knob, the middle button, keys from another thread, and a
// disabled (unpowered) joystick.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "gui_test_main.h"
#include "kvjoystick.h"

using korvel::guitest::mouse;
using korvel::joystick::JoyDirection;

namespace {

struct Change {
  JoyDirection d;
  int pressed;
  bool operator==(const Change&) const = default;
};

class KVJoystickGui : public ::testing::Test {
 protected:
  void SetUp() override {
    stick = frame.place(new KVJoystick(), 10, 10, wxSize(68, 68));
    stick->setOnChange([this](KVJoystick*, JoyDirection d, int p) { changes.push_back({d, p}); });
    korvel::guitest::render(stick);  // the first paint places the knob
  }

  korvel::guitest::ComponentFrame frame;
  KVJoystick* stick = nullptr;
  std::vector<Change> changes;
};

TEST_F(KVJoystickGui, DraggingTheKnobTiltsTheStickAndLettingGoCentresIt) {
  EXPECT_EQ(stick->knobRect(), wxRect(27, 27, 14, 14)) << "knob at rest in the middle";
  mouse(stick, wxEVT_LEFT_DOWN, 34, 34, true);
  EXPECT_TRUE(stick->dragging());
  mouse(stick, wxEVT_MOTION, 34, 10, true);
  EXPECT_EQ(stick->direction(), JoyDirection::Up);
  wxImage tilted = korvel::guitest::render(stick);
  EXPECT_EQ(korvel::guitest::pixel(tilted, 34, 23), *wxBLACK) << "knob drawn 11 pixels up";
  EXPECT_EQ(stick->knobRect().y, 34 - 11 - 7);
  mouse(stick, wxEVT_LEFT_UP, 60, 60);
  EXPECT_EQ(stick->direction(), JoyDirection::None);
  EXPECT_EQ(changes, (std::vector<Change>{{JoyDirection::Up, 0}, {JoyDirection::None, 0}}));
}

TEST_F(KVJoystickGui, DragWithinTheDeadZoneLeavesTheStickCentred) {
  mouse(stick, wxEVT_LEFT_DOWN, 34, 34, true);
  mouse(stick, wxEVT_MOTION, 34 + 14, 34, true);
  EXPECT_EQ(stick->direction(), JoyDirection::None);
  mouse(stick, wxEVT_MOTION, 34 + 15, 34, true);
  EXPECT_EQ(stick->direction(), JoyDirection::Right);
  mouse(stick, wxEVT_LEFT_UP, 34, 34);
}

TEST_F(KVJoystickGui, MiddleButtonPressesTheCentre) {
  mouse(stick, wxEVT_MIDDLE_DOWN, 34, 34);
  mouse(stick, wxEVT_MIDDLE_UP, 34, 34);
  EXPECT_EQ(changes, (std::vector<Change>{{JoyDirection::None, 1}, {JoyDirection::None, 0}}));
}

TEST_F(KVJoystickGui, ArrowKeysFromTheKeyThreadMoveTheStick) {
  std::thread keys([this] {
    stick->arrowKey(0x26, 1);  // up
    stick->arrowKey(0x27, 1);  // right
  });
  keys.join();
  korvel::guitest::drainEvents();
  EXPECT_EQ(stick->direction(), JoyDirection::UpRight);
  EXPECT_EQ(changes.back(), (Change{JoyDirection::UpRight, 0}));
}

TEST_F(KVJoystickGui, DisabledJoystickIgnoresMouseAndKeysForThePins) {
  stick->setEnabled(0);
  mouse(stick, wxEVT_LEFT_DOWN, 34, 34, true);
  EXPECT_FALSE(stick->dragging()) << "an unpowered knob cannot be grabbed";
  stick->arrowKey(0x25, 1);
  mouse(stick, wxEVT_MIDDLE_DOWN, 34, 34);
  EXPECT_TRUE(changes.empty()) << "nothing reached PORT1";
}

}  // namespace
