#include "speaker_audio.h"

#include <algorithm>
#include <cmath>

namespace korvel::speaker {

namespace {
constexpr double kPi = 3.14159265358979323846;
// The coupling capacitor and the speaker's input make a high-pass at about 20 Hz.
constexpr double kCornerHz = 20.0;
}  // namespace

double gainForVolume(float setting) {
  if (std::isnan(setting)) return 0.0;
  return std::clamp(double(setting), 0.0, 100.0) / 100.0;
}

std::vector<float> sineTable(float setting) {
  double n = std::isnan(setting) ? 1.0 : std::clamp(std::trunc(double(setting)), 1.0, 32767.0);
  std::vector<float> table(static_cast<size_t>(n));
  for (size_t i = 0; i < table.size(); ++i) table[i] = float(std::sin(2.0 * kPi * double(i) / n));
  return table;
}

// ---- SampleRing ---------------------------------------------------------------------------------

SampleRing::SampleRing(size_t capacity) : buffer_(std::max<size_t>(capacity, 1)) {}

void SampleRing::pushOne(float level) {
  if (count_ == buffer_.size()) {
    head_ = (head_ + 1) % buffer_.size();  // the oldest goes
    --count_;
    ++dropped_;
  }
  buffer_[(head_ + count_) % buffer_.size()] = level;
  ++count_;
}

void SampleRing::push(const float* levels, size_t count) {
  std::lock_guard<std::mutex> guard(lock_);
  for (size_t i = 0; i < count; ++i) pushOne(levels[i]);
}

void SampleRing::pushRepeated(float level, size_t count) {
  std::lock_guard<std::mutex> guard(lock_);
  // More than the ring holds would only push itself out again.
  size_t keep = std::min(count, buffer_.size());
  dropped_ += count - keep;
  for (size_t i = 0; i < keep; ++i) pushOne(level);
}

void SampleRing::pull(float* out, size_t count) {
  std::lock_guard<std::mutex> guard(lock_);
  size_t i = 0;
  for (; i < count && count_ > 0; ++i) {
    last_ = buffer_[head_];
    head_ = (head_ + 1) % buffer_.size();
    --count_;
    out[i] = last_;
  }
  padded_ += count - i;
  for (; i < count; ++i) out[i] = last_;
}

size_t SampleRing::size() const {
  std::lock_guard<std::mutex> guard(lock_);
  return count_;
}

uint64_t SampleRing::dropped() const {
  std::lock_guard<std::mutex> guard(lock_);
  return dropped_;
}

uint64_t SampleRing::padded() const {
  std::lock_guard<std::mutex> guard(lock_);
  return padded_;
}

void SampleRing::clear() {
  std::lock_guard<std::mutex> guard(lock_);
  head_ = count_ = 0;
}

// ---- DacSampler ---------------------------------------------------------------------------------

DacSampler::DacSampler(SampleRing& ring, int rate, size_t maxHold)
    : ring_(ring), rate_(rate > 0 ? rate : kDefaultRate), maxHold_(std::max<size_t>(maxHold, 1)) {}

void DacSampler::change(double seconds, float volts) {
  if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
  if (!std::isfinite(volts)) volts = 0.0f;
  // A hair over the product: 2.002 s at 1 kHz is sample 2002, though 2.002 * 1000 falls just short.
  const int64_t index = int64_t(std::floor(seconds * rate_ + 1e-6));
  if (next_ >= 0 && index > next_) {
    size_t held = size_t(index - next_);
    ring_.pushRepeated(level_, std::min(held, maxHold_));
  }
  // Several changes within one sample: the last one is what the sample shows. Time that went
  // backwards (a reset the sampler was not told of) starts again from here.
  next_ = index;
  level_ = volts;
}

void DacSampler::restart(double seconds) {
  next_ = -1;
  level_ = 0.0f;
  change(seconds, 0.0f);
}

// ---- Renderer -----------------------------------------------------------------------------------

Renderer::Renderer(int rate) {
  const double dt = 1.0 / (rate > 0 ? rate : kDefaultRate);
  const double rc = 1.0 / (2.0 * kPi * kCornerHz);
  pole_ = rc / (rc + dt);
}

void Renderer::startTone(std::vector<float> table, size_t samples) {
  tone_ = std::move(table);
  tonePos_ = 0;
  toneLeft_ = tone_.empty() ? 0 : samples;
}

void Renderer::render(float* levels, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    // The level as a swing around mid-rail, -1..1.
    double in = double(levels[i]) / kFullScaleVolts * 2.0 - 1.0;
    double out = pole_ * (lastOut_ + in - lastIn_);
    lastIn_ = in;
    lastOut_ = out;
    double mixed = out;
    if (toneLeft_ > 0) {
      mixed += tone_[tonePos_];
      tonePos_ = (tonePos_ + 1) % tone_.size();
      --toneLeft_;
    }
    levels[i] = float(std::clamp(mixed * gain_, -1.0, 1.0));
  }
}

// ---- Activity -----------------------------------------------------------------------------------

void Activity::change(uint64_t nowNanos) {
  beforeLast_.store(last_.load());
  last_.store(nowNanos);
  if (changes_.load() < 2) changes_.fetch_add(1);
}

bool Activity::sounding(uint64_t nowNanos) const {
  if (changes_.load() < 2) return false;
  uint64_t before = beforeLast_.load();
  return nowNanos >= before && nowNanos - before <= window_;
}

}  // namespace korvel::speaker
