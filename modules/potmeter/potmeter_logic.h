// The potentiometer without its window: where the knob points for a wiper position, which
// position a dragged pointer or a key asks for, the wiper's noise, and the knob's state.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <random>

namespace korvel::potmeter {

// The wiper sits between ground and the 3.3 V rail: its voltage is the position times this.
inline constexpr double kFullScaleVolts = 3.3;
// The knob turns through 270 degrees, from 7:30 (0 V) clockwise to 4:30 (3.3 V). Angles are in
// degrees, anticlockwise from pointing right, with screen up at 90.
inline constexpr double kSweepDegrees = 270.0;
inline constexpr double kZeroAngle = 225.0;
// One key press or wheel notch moves the wiper by this share of its travel.
inline constexpr double kKeyStep = 1.0 / 32.0;

// The knob's angle for a position (clamped to 0..1).
double angleForPosition(double position);
// The position a pointer at (dx, dy) from the knob's centre (screen coordinates, y down) turns
// the knob to. In the 90 degrees below the knob that it cannot reach it stays at the end stop
// nearer to `previous`, so a drag never jumps from one end to the other through the gap; within
// one degree past a stop it is at that stop.
double positionForPointer(double dx, double dy, double previous);
// The position for a voltage (clamped to the rail).
double positionForVolts(double volts);

// Keys of the key listener (Windows virtual-key codes) and what each does: +1 turns up one step,
// -1 down, 0 not a knob key.
inline constexpr unsigned int kVkPageUp = 0x21, kVkPageDown = 0x22, kVkAdd = 0x6B,
                              kVkSubtract = 0x6D, kVkPlus = 0xBB, kVkMinus = 0xBD;
int keyDirection(unsigned int virtualKey);

// The wiper's non-ideality: with `enabled`, a reading is disturbed with probability `share`
// (POTMETER_PERC_OF_RAND, 1 = every reading) by normal noise of standard deviation `sigma`
// (POTMETER_SIGMA) as a share of the full scale, then clamped to the rail.
struct NoiseSettings {
  bool enabled = false;
  double sigma = 0.0;
  double share = 0.0;
};
NoiseSettings noiseSettings(const std::function<float(const char*)>& setting);

class WiperNoise {
 public:
  void seed(uint32_t value);
  // The voltage the converter sees for a clean wiper voltage.
  double apply(double volts, const NoiseSettings& settings);

 private:
  std::mt19937 generator_{5489u};
  std::normal_distribution<double> normal_{0.0, 1.0};
  std::uniform_real_distribution<double> uniform_{0.0, 1.0};
};

// The knob: its position, its noise, and the voltage it hands on. Mouse and key changes come
// from the UI and key-listener threads and new noisy readings from the simulation thread; the
// position and the noise are kept under one lock, the voltage is written after it is released
// (the write takes the host's lock, which the simulation thread already holds when it asks).
class PotmeterModel {
 public:
  struct Environment {
    std::function<void(float volts)> write;     // the wiper voltage to the converter's input
    std::function<void()> invalidate;           // asks for a repaint (posted to the UI thread)
    std::function<NoiseSettings()> settings;    // read on every reading
  };

  explicit PotmeterModel(Environment env) : env_(std::move(env)) {}

  void seed(uint32_t value);
  // Moves the wiper (clamped) and writes the new reading. False when it did not move.
  bool setPosition(double position);
  bool step(int direction);
  bool pointTo(double dx, double dy);
  // A fresh reading of the unchanged position (new noise), written; returns it.
  float refresh();

  double position() const;
  double volts() const { return position() * kFullScaleVolts; }
  float lastReading() const;

  void setDragging(bool dragging);
  bool dragging() const;

 private:
  float reading();  // under lock_

  Environment env_;
  mutable std::mutex lock_;
  WiperNoise noise_;
  double position_ = 0.5;
  float last_ = 0.0f;
  bool dragging_ = false;
};

}  // namespace korvel::potmeter
