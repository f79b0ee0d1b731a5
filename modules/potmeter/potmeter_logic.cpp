#include "potmeter_logic.h"

#include <algorithm>
#include <cmath>

namespace korvel::potmeter {
namespace {

double clamp01(double v) {
  if (std::isnan(v)) return 0.0;
  return std::clamp(v, 0.0, 1.0);
}

constexpr double kPi = 3.14159265358979323846;

}  // namespace

double angleForPosition(double position) { return kZeroAngle - kSweepDegrees * clamp01(position); }

double positionForPointer(double dx, double dy, double previous) {
  if (dx == 0.0 && dy == 0.0) return clamp01(previous);
  double angle = std::atan2(-dy, dx) * 180.0 / kPi;  // -180..180, up = 90
  // Degrees turned clockwise from the 0 V stop, 0..360.
  double turned = std::fmod(kZeroAngle - angle + 720.0, 360.0);
  if (turned <= kSweepDegrees) return turned / kSweepDegrees;
  // A hair past a stop is that stop (a pointer aimed exactly at it may land just beyond).
  if (turned <= kSweepDegrees + 1.0) return 1.0;
  if (turned >= 359.0) return 0.0;
  // The gap under the knob: stay at the stop on the side the knob was on.
  return clamp01(previous) < 0.5 ? 0.0 : 1.0;
}

double positionForVolts(double volts) { return clamp01(volts / kFullScaleVolts); }

int keyDirection(unsigned int virtualKey) {
  switch (virtualKey) {
    case kVkPageUp:
    case kVkAdd:
    case kVkPlus: return 1;
    case kVkPageDown:
    case kVkSubtract:
    case kVkMinus: return -1;
    default: return 0;
  }
}

NoiseSettings noiseSettings(const std::function<float(const char*)>& setting) {
  NoiseSettings s;
  s.enabled = setting("POTMETER_BOUNCE") != 0.0f;
  double sigma = setting("POTMETER_SIGMA");
  double share = setting("POTMETER_PERC_OF_RAND");
  // Settings are free text: a spread that is not a positive finite number means no noise.
  s.sigma = std::isfinite(sigma) && sigma > 0.0 ? sigma : 0.0;
  s.share = std::isfinite(share) ? std::clamp(share, 0.0, 1.0) : 0.0;
  return s;
}

void WiperNoise::seed(uint32_t value) {
  generator_.seed(value);
  normal_.reset();
  uniform_.reset();
}

double WiperNoise::apply(double volts, const NoiseSettings& settings) {
  if (!settings.enabled || settings.sigma <= 0.0 || settings.share <= 0.0) return volts;
  // Draw both numbers every time, so a reading's noise depends only on how many came before.
  double chance = uniform_(generator_);
  double offset = normal_(generator_) * settings.sigma * kFullScaleVolts;
  if (chance >= settings.share) return volts;
  return std::clamp(volts + offset, 0.0, kFullScaleVolts);
}

void PotmeterModel::seed(uint32_t value) {
  std::lock_guard<std::mutex> guard(lock_);
  noise_.seed(value);
}

float PotmeterModel::reading() {
  NoiseSettings s = env_.settings ? env_.settings() : NoiseSettings{};
  last_ = float(noise_.apply(position_ * kFullScaleVolts, s));
  return last_;
}

bool PotmeterModel::setPosition(double position) {
  float value;
  {
    std::lock_guard<std::mutex> guard(lock_);
    double p = clamp01(position);
    if (p == position_) return false;
    position_ = p;
    value = reading();
  }
  if (env_.write) env_.write(value);
  if (env_.invalidate) env_.invalidate();
  return true;
}

bool PotmeterModel::step(int direction) {
  if (direction == 0) return false;
  double now = position();
  // Steps land on the grid of kKeyStep, so up then down comes back to the same place.
  double grid = std::round(now / kKeyStep);
  return setPosition((grid + (direction > 0 ? 1 : -1)) * kKeyStep);
}

bool PotmeterModel::pointTo(double dx, double dy) { return setPosition(positionForPointer(dx, dy, position())); }

float PotmeterModel::refresh() {
  float value;
  {
    std::lock_guard<std::mutex> guard(lock_);
    value = reading();
  }
  if (env_.write) env_.write(value);
  return value;
}

double PotmeterModel::position() const {
  std::lock_guard<std::mutex> guard(lock_);
  return position_;
}

float PotmeterModel::lastReading() const {
  std::lock_guard<std::mutex> guard(lock_);
  return last_;
}

void PotmeterModel::setDragging(bool dragging) {
  std::lock_guard<std::mutex> guard(lock_);
  dragging_ = dragging;
}

bool PotmeterModel::dragging() const {
  std::lock_guard<std::mutex> guard(lock_);
  return dragging_;
}

}  // namespace korvel::potmeter
