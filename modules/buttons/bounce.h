// The contact-bounce model of a push button, free of any window code: when a button changes
// state its owner is not told once but receives a short burst of alternating states, a few
// microseconds apart, produced on a thread of its own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "button_state.h"

namespace korvel::buttons {

// The normally distributed number of bounce transitions, shared by every button of the module.
// Buttons bouncing at the same time draw from two threads, so each draw is taken under a lock and
// stays one sample of the distribution.
class BounceRandom {
 public:
  BounceRandom();
  // mean = min + (max - min) / 2, sigma = BTN_SIGMA. A sigma that is not positive makes every draw
  // the mean (a normal distribution needs a positive spread).
  void configure(float mean, float sigma);
  float sample();
  void seed(uint32_t value);

 private:
  std::mutex lock_;
  std::mt19937 generator_;  // default seed 5489
  std::normal_distribution<float> distribution_;
  bool degenerate_ = false;
  float mean_ = 0.0f;
};

// The module's one shared instance.
BounceRandom& sharedBounceRandom();
// Reads BTN_MIN_BOUNCE, BTN_MAX_BOUNCE and BTN_SIGMA through `setting` and configures `random`.
void configureBounceRandom(BounceRandom& random,
                           const std::function<float(const std::string&)>& setting);

// Number of transitions for one bounce run from a drawn sample: rounded half away from zero,
// clamped to [minBounce, maxBounce] (their integer parts), made odd so that the run ends in the
// target state. 0 or less means no transition.
int bounceCount(double sample, float minBounce, float maxBounce);
// The divisor of a release's sample: BTN_UP_BOUNCE_RATE, taken as at least 1.
double releaseRate(float upBounceRate);
// The wait after one transition: (random % range) + base, with the integer parts of both. A
// range below 1 has no random part (waits the base only); a negative total waits nothing.
int64_t transitionWaitMicros(float baseUs, float usRange, int randomValue);

// What a button model needs from the rest of the system.
struct BounceEnvironment {
  // The value-returning settings read (0.0 for a missing key).
  std::function<float(const std::string&)> setting;
  // Plays the click of the new state (press or release sound).
  std::function<void(ButtonState)> playClick;
  // Reports a failure on a bounce thread (once per button).
  std::function<void(const std::string&)> report;
  // The C library's rand(): the waits' random part.
  std::function<int()> random;
};

// One button's state, bounce phase and bounce threads.
//
// Phases: 0 idle, 1 a press has been accepted (its bounce started or done), 2 a release bounce
// runs. A release accepted while the press bounce still runs waits for it to finish before it
// starts reporting, so the owner always sees the whole press burst, then the whole release burst,
// and the pin ends at the released level.
class ButtonModel {
 public:
  using Callback = std::function<void(ButtonState)>;

  explicit ButtonModel(BounceEnvironment environment, BounceRandom& random = sharedBounceRandom());
  // Stops the bounce threads before their next transition and waits for them.
  ~ButtonModel();
  ButtonModel(const ButtonModel&) = delete;
  ButtonModel& operator=(const ButtonModel&) = delete;

  void setCallback(Callback callback);
  // Asks for a new state. Returns true when the shown state changed (the caller repaints).
  bool update(ButtonState state, bool enabled);

  ButtonState state() const { return state_.load(); }
  int phase();
  // How many presses have been accepted so far. It is counted before the press's first
  // transition is delivered, so an owner can tell the closings of one press (its bounce, and the
  // closings within the release burst that follows) from those of the next.
  uint64_t pressCount() const { return presses_.load(); }
  // Blocks until no bounce run is in progress (for owners that must see the final level).
  void waitUntilSettled();

 private:
  void pressBounce(Callback callback);
  void releaseBounce(Callback callback);
  void runTransitions(const Callback& callback, int count, bool startPressed);
  void deliver(const Callback& callback, ButtonState state);
  void waitForRunsLocked(std::unique_lock<std::mutex>& guard);

  BounceEnvironment env_;
  BounceRandom& random_;
  Callback callback_;
  std::atomic<int> stop_{0};
  std::atomic<ButtonState> state_{ButtonState::Released};
  std::atomic<bool> failureReported_{false};
  std::atomic<uint64_t> presses_{0};

  std::mutex lock_;  // the phase, the two thread slots, the run flags and the call-back
  std::condition_variable settled_;
  int phase_ = 0;
  bool pressRunning_ = false;
  bool releaseRunning_ = false;
  std::thread releaseThread_;
  std::thread pressThread_;
};

}  // namespace korvel::buttons
