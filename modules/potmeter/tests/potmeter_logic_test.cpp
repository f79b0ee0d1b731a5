// The knob's geometry, keys, noise and state without a window.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

#include "potmeter_logic.h"

using namespace korvel::potmeter;

namespace {

// A pointer at `degrees` (anticlockwise from right, up = 90), far from the centre.
double pointer(double degrees, double previous = 0.5) {
  double a = degrees * 3.14159265358979323846 / 180.0;
  return positionForPointer(1000 * std::cos(a), -1000 * std::sin(a), previous);
}

TEST(PotmeterGeometry, TheKnobTurnsClockwiseFromSevenThirtyToFourThirty) {
  EXPECT_DOUBLE_EQ(angleForPosition(0), 225);
  EXPECT_DOUBLE_EQ(angleForPosition(0.5), 90) << "mid-scale points straight up";
  EXPECT_DOUBLE_EQ(angleForPosition(1), -45);
  EXPECT_DOUBLE_EQ(angleForPosition(7), -45) << "clamped";
  EXPECT_DOUBLE_EQ(angleForPosition(std::nan("")), 225) << "a NaN position is the 0 V stop";
  // The pointer's angle and the knob's angle agree both ways.
  for (double p : {0.0, 0.1, 0.25, 0.5, 0.9, 1.0}) EXPECT_NEAR(pointer(angleForPosition(p)), p, 1e-9) << p;
  EXPECT_NEAR(pointer(180), 45.0 / 270, 1e-9) << "pointing left";
  EXPECT_NEAR(pointer(0), 225.0 / 270, 1e-9) << "pointing right";
}

TEST(PotmeterGeometry, TheGapBelowTheKnobKeepsTheNearerStop) {
  EXPECT_EQ(pointer(-90, 0.1), 0.0) << "straight down from the low side";
  EXPECT_EQ(pointer(-90, 0.9), 1.0) << "straight down from the high side";
  EXPECT_EQ(pointer(-60, 0.2), 0.0) << "just past the 3.3 V stop, coming from the low side";
  EXPECT_EQ(pointer(-45.5, 0.1), 1.0) << "a hair past the 3.3 V stop is the stop, from anywhere";
  EXPECT_EQ(pointer(225.5, 0.9), 0.0) << "a hair past the 0 V stop";
  EXPECT_EQ(positionForPointer(0, 0, 0.3), 0.3) << "the centre itself moves nothing";
  EXPECT_DOUBLE_EQ(positionForVolts(1.65), 0.5);
  EXPECT_EQ(positionForVolts(-1), 0.0);
  EXPECT_EQ(positionForVolts(5), 1.0);
}

TEST(PotmeterKeys, PageAndPlusMinusKeysTurnOtherKeysDoNot) {
  EXPECT_EQ(keyDirection(kVkPageUp), 1);
  EXPECT_EQ(keyDirection(kVkAdd), 1);
  EXPECT_EQ(keyDirection(kVkPlus), 1);
  EXPECT_EQ(keyDirection(kVkPageDown), -1);
  EXPECT_EQ(keyDirection(kVkSubtract), -1);
  EXPECT_EQ(keyDirection(kVkMinus), -1);
  EXPECT_EQ(keyDirection(0x26), 0) << "the arrow keys belong to the joystick";
  EXPECT_EQ(keyDirection(0x31), 0);
}

NoiseSettings settingsOf(float bounce, float sigma, float share) {
  return noiseSettings([=](const char* key) {
    std::string k = key;
    return k == "POTMETER_BOUNCE" ? bounce : k == "POTMETER_SIGMA" ? sigma : k == "POTMETER_PERC_OF_RAND" ? share : -99.0f;
  });
}

TEST(PotmeterNoise, SettingsAreReadAndMadeSafe) {
  NoiseSettings s = settingsOf(1, 0.005f, 1);
  EXPECT_TRUE(s.enabled);
  EXPECT_FLOAT_EQ(float(s.sigma), 0.005f);
  EXPECT_EQ(s.share, 1.0);
  EXPECT_FALSE(settingsOf(0, 0.005f, 1).enabled);
  EXPECT_EQ(settingsOf(1, -1, 1).sigma, 0.0);
  EXPECT_EQ(settingsOf(1, INFINITY, 1).sigma, 0.0);
  EXPECT_EQ(settingsOf(1, 0.1f, 7).share, 1.0);
  EXPECT_EQ(settingsOf(1, 0.1f, -2).share, 0.0);
  EXPECT_EQ(settingsOf(1, 0.1f, NAN).share, 0.0);
}

TEST(PotmeterNoise, OffOrZeroSpreadIsCleanAndOnIsSpreadAsSet) {
  WiperNoise noise;
  EXPECT_EQ(noise.apply(1.5, settingsOf(0, 0.005f, 1)), 1.5);
  EXPECT_EQ(noise.apply(1.5, settingsOf(1, 0, 1)), 1.5);
  EXPECT_EQ(noise.apply(1.5, settingsOf(1, 0.01f, 0)), 1.5) << "no share of readings disturbed";
  NoiseSettings on = settingsOf(1, 0.01f, 1);
  double sum = 0, squares = 0;
  const int n = 20000;
  for (int i = 0; i < n; ++i) {
    double d = noise.apply(1.65, on) - 1.65;
    sum += d;
    squares += d * d;
  }
  EXPECT_NEAR(sum / n, 0.0, 0.002);
  EXPECT_NEAR(std::sqrt(squares / n), 0.01 * 3.3, 0.002) << "sigma is a share of the full scale";
  // Half the readings disturbed.
  int disturbed = 0;
  NoiseSettings half = settingsOf(1, 0.01f, 0.5f);
  for (int i = 0; i < 4000; ++i) disturbed += noise.apply(1.65, half) != 1.65;
  EXPECT_NEAR(disturbed, 2000, 200);
  // Near the rails the reading never leaves them.
  for (int i = 0; i < 1000; ++i) {
    double lo = noise.apply(0.0, on), hi = noise.apply(3.3, on);
    ASSERT_GE(lo, 0.0);
    ASSERT_LE(hi, 3.3);
  }
}

TEST(PotmeterNoise, TheSameSeedGivesTheSameReadings) {
  NoiseSettings on = settingsOf(1, 0.005f, 0.7f);
  WiperNoise a, b, c;
  a.seed(42);
  b.seed(42);
  c.seed(43);
  bool differs = false;
  for (int i = 0; i < 100; ++i) {
    double x = a.apply(1.0, on);
    ASSERT_EQ(x, b.apply(1.0, on)) << i;
    differs |= x != c.apply(1.0, on);
  }
  EXPECT_TRUE(differs) << "another seed, other noise";
}

struct Recorder {
  std::vector<float> writes;
  int repaints = 0;
  NoiseSettings noise;
  PotmeterModel::Environment env() {
    return {[this](float v) { writes.push_back(v); }, [this] { ++repaints; }, [this] { return noise; }};
  }
};

TEST(PotmeterModelTest, MovingTheWiperWritesItsVoltageOnceAndRepaints) {
  Recorder r;
  PotmeterModel model(r.env());
  EXPECT_DOUBLE_EQ(model.position(), 0.5) << "a new knob stands in the middle";
  EXPECT_TRUE(model.setPosition(0.25));
  ASSERT_EQ(r.writes.size(), 1u);
  EXPECT_FLOAT_EQ(r.writes[0], 0.825f);
  EXPECT_EQ(r.repaints, 1);
  EXPECT_FALSE(model.setPosition(0.25)) << "no move, no write";
  EXPECT_EQ(r.writes.size(), 1u);
  EXPECT_TRUE(model.setPosition(4));
  EXPECT_FLOAT_EQ(r.writes.back(), 3.3f);
  EXPECT_FALSE(model.setPosition(2)) << "already at the stop";
  EXPECT_TRUE(model.setPosition(std::nan("")));
  EXPECT_FLOAT_EQ(r.writes.back(), 0.0f);
}

TEST(PotmeterModelTest, KeysStepOnAGridAndStopAtTheEnds) {
  Recorder r;
  PotmeterModel model(r.env());
  model.setPosition(0.51);
  EXPECT_TRUE(model.step(1));
  EXPECT_DOUBLE_EQ(model.position(), 17 * kKeyStep);
  EXPECT_TRUE(model.step(-1));
  EXPECT_DOUBLE_EQ(model.position(), 16 * kKeyStep);
  EXPECT_FALSE(model.step(0));
  for (int i = 0; i < 40; ++i) model.step(1);
  EXPECT_DOUBLE_EQ(model.position(), 1.0);
  EXPECT_FALSE(model.step(1)) << "the stop";
  for (int i = 0; i < 40; ++i) model.step(-1);
  EXPECT_DOUBLE_EQ(model.position(), 0.0);
}

TEST(PotmeterModelTest, RefreshGivesANewNoisyReadingOfTheSamePosition) {
  Recorder r;
  PotmeterModel model(r.env());
  model.seed(7);
  EXPECT_FLOAT_EQ(model.refresh(), 1.65f) << "clean while the noise is off";
  r.noise = {true, 0.01, 1.0};
  float a = model.refresh(), b = model.refresh();
  EXPECT_NE(a, b);
  EXPECT_NEAR(a, 1.65, 0.2);
  EXPECT_EQ(r.writes.back(), b);
  EXPECT_EQ(model.lastReading(), b);
  EXPECT_DOUBLE_EQ(model.position(), 0.5) << "noise never moves the wiper";
}

TEST(PotmeterModelTest, KeysFromAnotherThreadAndRefreshesDoNotLoseSteps) {
  Recorder r;
  r.noise = {true, 0.001, 1.0};
  std::mutex writes;
  PotmeterModel model({[&](float) { std::lock_guard<std::mutex> g(writes); }, nullptr, [&] { return r.noise; }});
  model.setPosition(0);
  std::thread keys([&] {
    for (int i = 0; i < 16; ++i) model.step(1);
  });
  for (int i = 0; i < 1000; ++i) model.refresh();
  keys.join();
  EXPECT_DOUBLE_EQ(model.position(), 0.5);
}

}  // namespace
