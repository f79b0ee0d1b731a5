// The power rule and the switch's lever, as the power module uses them.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "power_logic.h"

using namespace korvel::power;

namespace {

TEST(PowerRule, BoardRunsOnlyWithSwitchOnAndJumperCapFitted) {
  EXPECT_EQ(boardPowered(1, 1), 1);
  EXPECT_EQ(boardPowered(1, 2), 1) << "either cap position powers the board";
  EXPECT_EQ(boardPowered(1, 0), 0) << "cap removed";
  EXPECT_EQ(boardPowered(0, 1), 0) << "switch off";
  EXPECT_EQ(boardPowered(0, 0), 0);
}

TEST(Lever, ClickableRectangleOfTheSwitchWindow) {
  KVRect lever = leverRect({0, 0, 96, 38});
  EXPECT_EQ(lever.left, 69);
  EXPECT_EQ(lever.top, 13);
  EXPECT_EQ(lever.right, 94);
  EXPECT_EQ(lever.bottom, 25);
}

TEST(Lever, TiltTurnsAboutTheMiddleOfItsLeftEdge) {
  KVRect lever{69, 13, 94, 25};
  for (bool on : {true, false}) {
    Tilt t = leverTilt(on, lever);
    double x = 69, y = 19;
    EXPECT_NEAR(t.m11 * x + t.m21 * y + t.dx, 69, 1e-9) << "pivot stays, on=" << on;
    EXPECT_NEAR(t.m12 * x + t.m22 * y + t.dy, 19, 1e-9) << "pivot stays, on=" << on;
    // The lever's far end moves down on screen when on (+15 degrees, y grows downwards).
    double farY = t.m12 * 94 + t.m22 * 19 + t.dy;
    if (on) EXPECT_GT(farY, 19 + 6);
    else EXPECT_LT(farY, 19 - 6);
  }
}

TEST(Switch, StartsOnWithoutStoredPositionAndStoresEveryToggle) {
  std::vector<float> stored;
  SwitchModel fresh(std::nullopt, [&](float v) { stored.push_back(v); });
  EXPECT_EQ(fresh.on(), 1);
  EXPECT_EQ(fresh.toggle(), 0);
  EXPECT_EQ(fresh.toggle(), 1);
  EXPECT_EQ(stored, (std::vector<float>{0.0f, 1.0f}));
  EXPECT_EQ(SwitchModel(0.0f).on(), 0) << "a stored off position is kept";
  EXPECT_EQ(SwitchModel(0.5f).on(), 1) << "any non-zero stored value is on";
}

}  // namespace
