// The contact-bounce model driven as the buttons module drives it: a press or release asked for,
// the owner's call-back watching the burst that follows.
#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "bounce.h"

using korvel::buttons::BounceEnvironment;
using korvel::buttons::BounceRandom;
using korvel::buttons::ButtonModel;

namespace {

// Settings as the store would serve them, changeable while bounce threads read them.
class FakeSettings {
 public:
  FakeSettings() {
    values_ = {{"BTN_BOUNCE", 1}, {"BTN_MIN_BOUNCE", 1}, {"BTN_MAX_BOUNCE", 10}, {"BTN_BASE_US", 5},
               {"BTN_US_RANGE", 3}, {"BTN_SIGMA", 1}, {"BTN_UP_BOUNCE_RATE", 2}};
  }
  void set(const std::string& key, float value) {
    std::lock_guard<std::mutex> guard(lock_);
    values_[key] = value;
  }
  float get(const std::string& key) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = values_.find(key);
    return it == values_.end() ? 0.0f : it->second;
  }

 private:
  std::mutex lock_;
  std::map<std::string, float> values_;
};

// Everything the model told the outside world, in order.
struct Recorder {
  std::mutex lock;
  std::vector<ButtonState> calls;
  std::vector<ButtonState> clicks;
  std::vector<std::string> reports;

  void call(ButtonState s) {
    std::lock_guard<std::mutex> guard(lock);
    calls.push_back(s);
  }
  std::vector<ButtonState> takeCalls() {
    std::lock_guard<std::mutex> guard(lock);
    return std::exchange(calls, {});
  }
};

// A gate that a call-back can be held at until the test opens it.
class Gate {
 public:
  void arriveAndWait() {
    std::unique_lock<std::mutex> guard(lock_);
    arrived_ = true;
    changed_.notify_all();
    changed_.wait(guard, [this] { return open_; });
  }
  void waitForArrival() {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [this] { return arrived_; });
  }
  void open() {
    std::lock_guard<std::mutex> guard(lock_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool arrived_ = false;
  bool open_ = false;
};

constexpr ButtonState P = ButtonState::Pressed;
constexpr ButtonState R = ButtonState::Released;

class BounceTest : public ::testing::Test {
 protected:
  void SetUp() override { configure(); }

  void configure() {
    korvel::buttons::configureBounceRandom(random, [this](const std::string& k) { return settings.get(k); });
  }

  BounceEnvironment environment() {
    BounceEnvironment env;
    env.setting = [this](const std::string& k) { return settings.get(k); };
    env.playClick = [this](ButtonState s) {
      std::lock_guard<std::mutex> guard(rec.lock);
      rec.clicks.push_back(s);
    };
    env.report = [this](const std::string& text) {
      std::lock_guard<std::mutex> guard(rec.lock);
      rec.reports.push_back(text);
    };
    return env;
  }

  FakeSettings settings;
  BounceRandom random;
  Recorder rec;
};

TEST_F(BounceTest, FixedBounceOfFourGivesFiveAlternatingTransitionsEndingInTheTargetState) {
  settings.set("BTN_MIN_BOUNCE", 4);
  settings.set("BTN_MAX_BOUNCE", 4);
  configure();
  ButtonModel button(environment(), random);
  button.setCallback([this](ButtonState s) { rec.call(s); });

  for (int round = 0; round < 10; ++round) {
    ASSERT_TRUE(button.update(P, true));
    button.waitUntilSettled();
    EXPECT_EQ(rec.takeCalls(), (std::vector<ButtonState>{P, R, P, R, P})) << "press burst, round " << round;
    ASSERT_TRUE(button.update(R, true));
    button.waitUntilSettled();
    EXPECT_EQ(rec.takeCalls(), (std::vector<ButtonState>{R, P, R, P, R})) << "release burst, round " << round;
  }
  EXPECT_EQ(button.phase(), 0);
}

TEST_F(BounceTest, WithBouncingOffEachChangeGivesExactlyOneCallAndItsClick) {
  settings.set("BTN_BOUNCE", 0);
  ButtonModel button(environment(), random);
  button.setCallback([this](ButtonState s) { rec.call(s); });

  ASSERT_TRUE(button.update(P, true));
  EXPECT_EQ(rec.takeCalls(), std::vector<ButtonState>{P});
  EXPECT_EQ(button.state(), P);
  ASSERT_TRUE(button.update(R, true));
  EXPECT_EQ(rec.takeCalls(), std::vector<ButtonState>{R});
  EXPECT_EQ(rec.clicks, (std::vector<ButtonState>{P, R})) << "press click then release click";
  EXPECT_FALSE(button.update(R, true)) << "an unchanged state is not a change";
  EXPECT_TRUE(rec.takeCalls().empty());
}

TEST_F(BounceTest, DisabledButtonIgnoresPressesAndKeepsShowingReleased) {
  ButtonModel button(environment(), random);
  button.setCallback([this](ButtonState s) { rec.call(s); });
  EXPECT_FALSE(button.update(P, false));
  button.waitUntilSettled();
  EXPECT_EQ(button.state(), R);
  EXPECT_TRUE(rec.takeCalls().empty());
  EXPECT_TRUE(rec.clicks.empty()) << "a disabled button makes no sound";
}

TEST_F(BounceTest, ButtonWithoutOwnerChangesItsLookSilently) {
  ButtonModel button(environment(), random);
  EXPECT_TRUE(button.update(P, true));
  EXPECT_EQ(button.state(), P);
  EXPECT_TRUE(rec.clicks.empty());
}

TEST_F(BounceTest, SecondPressDuringReleaseBounceIsIgnored) {
  ButtonModel button(environment(), random);
  Gate gate;
  bool held = false;
  button.setCallback([&](ButtonState s) {
    if (s == R && !held) {  // hold the release burst at its first transition
      held = true;
      gate.arriveAndWait();
    }
    rec.call(s);
  });
  ASSERT_TRUE(button.update(P, true));
  ASSERT_TRUE(button.update(R, true));
  gate.waitForArrival();

  EXPECT_EQ(button.phase(), 2);
  EXPECT_FALSE(button.update(P, true)) << "a press during the release burst must be refused";
  EXPECT_EQ(button.state(), R) << "the button keeps showing released";
  gate.open();
  button.waitUntilSettled();
  EXPECT_EQ(rec.takeCalls().back(), R);
  EXPECT_EQ(rec.clicks, (std::vector<ButtonState>{P, R})) << "the refused press made no click";
  EXPECT_TRUE(button.update(P, true)) << "once the release burst ended, presses work again";
}

TEST_F(BounceTest, ReleaseWhileIdleIsIgnoredAndTheButtonKeepsShowingPressed) {
  settings.set("BTN_BOUNCE", 0);
  ButtonModel button(environment(), random);
  button.setCallback([this](ButtonState s) { rec.call(s); });
  ASSERT_TRUE(button.update(P, true));
  settings.set("BTN_BOUNCE", 1);
  EXPECT_FALSE(button.update(R, true));
  EXPECT_EQ(button.state(), P);
  EXPECT_EQ(rec.takeCalls(), std::vector<ButtonState>{P});
}

// The release burst is the press burst's draw divided by BTN_UP_BOUNCE_RATE (taken as at least
// 1). With no spread every draw is the mean, 5.5 between 1 and 10: the press always bounces 7
// times, and the release 5.5 / rate times, rounded and made odd.
TEST_F(BounceTest, ReleaseBurstsAreShorterByTheUpBounceRate) {
  settings.set("BTN_SIGMA", 0);
  configure();
  struct Case {
    float rate;
    size_t release;
  };
  for (Case c : {Case{1, 7}, Case{2, 3}, Case{4, 1}, Case{0.5f, 7}, Case{3, 3}}) {
    settings.set("BTN_UP_BOUNCE_RATE", c.rate);
    ButtonModel button(environment(), random);
    button.setCallback([this](ButtonState s) { rec.call(s); });
    ASSERT_TRUE(button.update(P, true));
    button.waitUntilSettled();
    EXPECT_EQ(rec.takeCalls().size(), 7u) << "press burst at rate " << c.rate;
    ASSERT_TRUE(button.update(R, true));
    button.waitUntilSettled();
    const auto release = rec.takeCalls();
    EXPECT_EQ(release.size(), c.release) << "release burst at rate " << c.rate;
    ASSERT_FALSE(release.empty());
    EXPECT_EQ(release.back(), R);
  }
}

TEST_F(BounceTest, ReleaseWithBouncingOffEndsAPressThatBouncedSoLaterPressesWork) {
  ButtonModel button(environment(), random);
  button.setCallback([this](ButtonState s) { rec.call(s); });
  ASSERT_TRUE(button.update(P, true));
  button.waitUntilSettled();
  settings.set("BTN_BOUNCE", 0);
  ASSERT_TRUE(button.update(R, true));
  EXPECT_EQ(button.phase(), 0) << "the released button is idle";
  settings.set("BTN_BOUNCE", 1);
  rec.takeCalls();
  EXPECT_TRUE(button.update(P, true)) << "with bouncing back on the button must still press";
  button.waitUntilSettled();
  EXPECT_EQ(button.state(), P);
  ASSERT_FALSE(rec.takeCalls().empty());
  EXPECT_TRUE(button.update(R, true)) << "and release";
  button.waitUntilSettled();
  EXPECT_EQ(rec.takeCalls().back(), R);
}

TEST_F(BounceTest, ReleaseDuringPressBounceWaitsSoThePinEndsReleased) {
  settings.set("BTN_MIN_BOUNCE", 4);
  settings.set("BTN_MAX_BOUNCE", 4);
  configure();
  ButtonModel button(environment(), random);
  Gate gate;
  bool held = false;
  button.setCallback([&](ButtonState s) {
    if (!held) {  // hold the press burst at its first transition
      held = true;
      gate.arriveAndWait();
    }
    rec.call(s);
  });
  ASSERT_TRUE(button.update(P, true));
  gate.waitForArrival();
  ASSERT_TRUE(button.update(R, true)) << "a release is accepted while the press burst runs";
  gate.open();
  button.waitUntilSettled();
  EXPECT_EQ(rec.takeCalls(), (std::vector<ButtonState>{P, R, P, R, P, R, P, R, P, R}))
      << "the whole press burst, then the whole release burst";
}

TEST_F(BounceTest, FailingCallbackOnBounceThreadIsReportedOnceAndTheBurstGoesOn) {
  settings.set("BTN_MIN_BOUNCE", 4);
  settings.set("BTN_MAX_BOUNCE", 4);
  configure();
  ButtonModel button(environment(), random);
  int calls = 0;
  button.setCallback([&](ButtonState) {
    ++calls;
    throw std::runtime_error("Invalid button state.");
  });
  button.update(P, true);
  button.waitUntilSettled();
  button.update(R, true);
  button.waitUntilSettled();
  EXPECT_EQ(calls, 10) << "every transition still reached the owner";
  ASSERT_EQ(rec.reports.size(), 1u) << "reported once, not per transition";
  EXPECT_EQ(rec.reports[0], "Invalid button state.");
}

TEST_F(BounceTest, FailingCallbackWithBouncingOffReachesTheCaller) {
  settings.set("BTN_BOUNCE", 0);
  ButtonModel button(environment(), random);
  button.setCallback([](ButtonState) { throw std::runtime_error("Invalid button state."); });
  EXPECT_THROW(button.update(P, true), std::runtime_error);
  EXPECT_EQ(button.state(), R) << "a failed change is not shown";
}

TEST_F(BounceTest, DestroyingAButtonEndsALongBounceWait) {
  settings.set("BTN_BASE_US", 1e9f);  // some 17 minutes between transitions
  Gate gate;
  {
    ButtonModel button(environment(), random);
    button.setCallback([&](ButtonState s) {
      rec.call(s);
      gate.open();
    });
    button.update(P, true);
    gate.arriveAndWait();  // the first transition happened; the thread now waits
  }
  EXPECT_EQ(rec.takeCalls(), std::vector<ButtonState>{P}) << "no transition after the button was gone";
}

TEST(BounceCount, RoundsClampsAndMakesOdd) {
  using korvel::buttons::bounceCount;
  EXPECT_EQ(bounceCount(5.5, 1, 10), 7) << "5.5 rounds away from zero to 6, made odd";
  EXPECT_EQ(bounceCount(4.4, 1, 10), 5);
  EXPECT_EQ(bounceCount(5.0, 1, 10), 5);
  EXPECT_EQ(bounceCount(0.2, 1, 10), 1) << "below the minimum";
  EXPECT_EQ(bounceCount(12.0, 1, 10), 11) << "clamped to 10, made odd";
  EXPECT_EQ(bounceCount(3.0, 4.9f, 10), 5) << "the minimum's integer part, made odd";
  EXPECT_LE(bounceCount(-3.0, -5, 10), 0) << "a negative count means no transition";
  EXPECT_EQ(bounceCount(2.75, 1, 10), 3) << "a release sample of 5.5 / 2";
}

TEST(BounceCount, AbsurdSettingsStayInRange) {
  using korvel::buttons::bounceCount;
  EXPECT_EQ(bounceCount(std::numeric_limits<double>::quiet_NaN(), 1, 10), 1);
  EXPECT_GT(bounceCount(1e30, 1, 1e30f), 0);
}

TEST(TransitionWait, RangeBelowOneWaitsTheBaseOnly) {
  using korvel::buttons::transitionWaitMicros;
  EXPECT_EQ(transitionWaitMicros(5, 0, 12345), 5);
  EXPECT_EQ(transitionWaitMicros(5, 0.9f, 12345), 5);
  EXPECT_EQ(transitionWaitMicros(5, -3, 12345), 5);
  EXPECT_EQ(transitionWaitMicros(5, 3, 7), 6) << "7 % 3 + 5";
  EXPECT_EQ(transitionWaitMicros(-10, 3, 0), 0) << "a negative wait is no wait";
}

TEST(ReleaseRate, IsAtLeastOne) {
  using korvel::buttons::releaseRate;
  EXPECT_EQ(releaseRate(2.0f), 2.0);
  EXPECT_EQ(releaseRate(0.5f), 1.0);
  EXPECT_EQ(releaseRate(std::numeric_limits<float>::quiet_NaN()), 1.0);
}

TEST(SharedDistribution, IsCentredBetweenMinAndMaxAndSurvivesAZeroSigma) {
  BounceRandom random;
  std::map<std::string, float> s{{"BTN_MIN_BOUNCE", 1}, {"BTN_MAX_BOUNCE", 10}, {"BTN_SIGMA", 0}};
  korvel::buttons::configureBounceRandom(random, [&](const std::string& k) { return s[k]; });
  EXPECT_EQ(random.sample(), 5.5f);
  s["BTN_SIGMA"] = 1;
  korvel::buttons::configureBounceRandom(random, [&](const std::string& k) { return s[k]; });
  double sum = 0;
  for (int i = 0; i < 2000; ++i) sum += random.sample();
  EXPECT_NEAR(sum / 2000, 5.5, 0.15);
}

}  // namespace
