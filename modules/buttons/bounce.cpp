#include "bounce.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <system_error>

namespace korvel::buttons {
namespace {

// Settings are free text: keep absurd values inside int so that no conversion overflows.
int64_t saturate(double value) {
  if (std::isnan(value)) return 0;
  if (value > 1e9) return 1000000000;
  if (value < -1e9) return -1000000000;
  return static_cast<int64_t>(value);
}

}  // namespace

BounceRandom::BounceRandom() = default;

void BounceRandom::configure(float mean, float sigma) {
  std::lock_guard<std::mutex> guard(lock_);
  mean_ = mean;
  degenerate_ = !(sigma > 0.0f) || std::isinf(sigma);
  distribution_ = std::normal_distribution<float>(mean, degenerate_ ? 1.0f : sigma);
}

float BounceRandom::sample() {
  std::lock_guard<std::mutex> guard(lock_);
  if (degenerate_) return mean_;
  return distribution_(generator_);
}

void BounceRandom::seed(uint32_t value) {
  std::lock_guard<std::mutex> guard(lock_);
  generator_.seed(value);
  distribution_.reset();
}

BounceRandom& sharedBounceRandom() {
  static BounceRandom random;
  return random;
}

void configureBounceRandom(BounceRandom& random,
                           const std::function<float(const std::string&)>& setting) {
  float minBounce = setting("BTN_MIN_BOUNCE");
  float maxBounce = setting("BTN_MAX_BOUNCE");
  random.configure(minBounce + (maxBounce - minBounce) * 0.5f, setting("BTN_SIGMA"));
}

int bounceCount(double sample, float minBounce, float maxBounce) {
  double rounded = std::round(sample);  // halves away from zero
  double n = rounded;
  if (minBounce > rounded) {
    n = std::trunc(minBounce);
  } else if (rounded > maxBounce) {
    n = std::trunc(maxBounce);
  }
  int64_t count = saturate(n);
  // An odd number of alternating transitions ends in the state the user asked for.
  if (count % 2 == 0) count += 1;
  return static_cast<int>(count);
}

double releaseRate(float upBounceRate) { return upBounceRate >= 1.0f ? upBounceRate : 1.0; }

int64_t transitionWaitMicros(float baseUs, float usRange, int randomValue) {
  int64_t base = saturate(std::trunc(baseUs));
  int64_t range = saturate(std::trunc(usRange));
  int64_t wait = base;
  if (range >= 1) wait += (randomValue < 0 ? -static_cast<int64_t>(randomValue) : randomValue) % range;
  return wait > 0 ? wait : 0;
}

ButtonModel::ButtonModel(BounceEnvironment environment, BounceRandom& random)
    : env_(std::move(environment)), random_(random) {
  if (!env_.random) env_.random = [] { return std::rand(); };
}

ButtonModel::~ButtonModel() {
  stop_ = 1;
  {
    std::lock_guard<std::mutex> guard(lock_);
    settled_.notify_all();
  }
  if (pressThread_.joinable()) pressThread_.join();
  if (releaseThread_.joinable()) releaseThread_.join();
}

void ButtonModel::setCallback(Callback callback) {
  std::lock_guard<std::mutex> guard(lock_);
  callback_ = std::move(callback);
}

int ButtonModel::phase() {
  std::lock_guard<std::mutex> guard(lock_);
  return phase_;
}

void ButtonModel::waitForRunsLocked(std::unique_lock<std::mutex>& guard) {
  settled_.wait(guard, [this] { return !pressRunning_ && !releaseRunning_; });
}

void ButtonModel::waitUntilSettled() {
  std::unique_lock<std::mutex> guard(lock_);
  waitForRunsLocked(guard);
}

bool ButtonModel::update(ButtonState state, bool enabled) {
  if (!enabled || state == state_.load()) return false;

  std::unique_lock<std::mutex> guard(lock_);
  if (!callback_) {
    guard.unlock();
    state_ = state;
    return true;
  }
  Callback callback = callback_;

  if (env_.setting("BTN_BOUNCE") == 0.0f) {
    // A burst still running (bouncing was switched off meanwhile) finishes first, so the pin
    // ends at the level the button shows.
    waitForRunsLocked(guard);
    // A release taken here ends a press that a burst began: the button is idle again, or every
    // later press with bouncing back on would be refused. (A press taken here leaves the phase
    // idle: a release with bouncing back on is then ignored and the button keeps showing pressed.)
    const int previousPhase = phase_;
    if (state == ButtonState::Released) phase_ = 0;
    if (state == ButtonState::Pressed) ++presses_;
    guard.unlock();
    if (env_.playClick) env_.playClick(state);
    try {
      callback(state);
    } catch (...) {
      std::lock_guard<std::mutex> restore(lock_);
      phase_ = previousPhase;
      throw;
    }
    state_ = state;
    return true;
  }

  if (state == ButtonState::Pressed) {
    if (phase_ != 0) return false;
    if (pressThread_.joinable()) pressThread_.join();
    if (releaseThread_.joinable()) releaseThread_.join();
    phase_ = 1;
    pressRunning_ = true;
    ++presses_;
    if (env_.playClick) env_.playClick(state);
    try {
      pressThread_ = std::thread(&ButtonModel::pressBounce, this, std::move(callback));
    } catch (...) {
      phase_ = 0;
      pressRunning_ = false;
      throw;
    }
  } else {
    if (phase_ != 1) return false;
    phase_ = 2;
    releaseRunning_ = true;
    if (env_.playClick) env_.playClick(state);
    try {
      releaseThread_ = std::thread(&ButtonModel::releaseBounce, this, std::move(callback));
    } catch (...) {
      phase_ = 1;
      releaseRunning_ = false;
      throw;
    }
  }
  guard.unlock();
  state_ = state;
  return true;
}

void ButtonModel::deliver(const Callback& callback, ButtonState state) {
  // An owner's failure must not end the host process from a thread nobody waits on: it is
  // reported once and the burst goes on, so later transitions still reach the pin.
  try {
    callback(state);
  } catch (const std::exception& e) {
    if (!failureReported_.exchange(true) && env_.report) env_.report(e.what());
  } catch (...) {
    if (!failureReported_.exchange(true) && env_.report) env_.report("unknown error");
  }
}

void ButtonModel::runTransitions(const Callback& callback, int count, bool startPressed) {
  for (int i = 0; i < count; ++i) {
    if (stop_) return;
    bool even = (i & 1) == 0;
    ButtonState state = (even == startPressed) ? ButtonState::Pressed : ButtonState::Released;
    deliver(callback, state);
    int64_t wait = 0;
    try {
      wait = transitionWaitMicros(env_.setting("BTN_BASE_US"), env_.setting("BTN_US_RANGE"),
                                  env_.random());
    } catch (...) {
    }
    if (wait > 0) {
      // Waiting on the stop signal rather than sleeping lets a long wait end when the button goes.
      std::unique_lock<std::mutex> guard(lock_);
      settled_.wait_for(guard, std::chrono::microseconds(wait), [this] { return stop_ != 0; });
    }
  }
}

void ButtonModel::pressBounce(Callback callback) {
  try {
    float sample = random_.sample();
    int count = bounceCount(sample, env_.setting("BTN_MIN_BOUNCE"), env_.setting("BTN_MAX_BOUNCE"));
    runTransitions(callback, count, true);
  } catch (...) {
  }
  std::lock_guard<std::mutex> guard(lock_);
  pressRunning_ = false;  // the phase stays 1: the press holds until a release is accepted
  settled_.notify_all();
}

void ButtonModel::releaseBounce(Callback callback) {
  {
    std::unique_lock<std::mutex> guard(lock_);
    settled_.wait(guard, [this] { return !pressRunning_ || stop_ != 0; });
  }
  try {
    double rate = releaseRate(env_.setting("BTN_UP_BOUNCE_RATE"));
    double sample = random_.sample() / rate;
    int count = bounceCount(sample, env_.setting("BTN_MIN_BOUNCE"), env_.setting("BTN_MAX_BOUNCE"));
    runTransitions(callback, count, false);
  } catch (...) {
  }
  std::lock_guard<std::mutex> guard(lock_);
  phase_ = 0;
  releaseRunning_ = false;
  settled_.notify_all();
}

}  // namespace korvel::buttons
