// The speaker's sound path without a window or a sound card: the DAC's output voltage sampled
// against simulated time, a bounded buffer between the simulation and the audio device, and the
// conversion of voltages into what the device plays (coupling capacitor, volume, test tone).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace korvel::speaker {

inline constexpr double kFullScaleVolts = 3.3;
inline constexpr int kDefaultRate = 44100;

// SPEAKER_IN_DLL_VOLUME (0..100, clamped; NaN is 0) as a gain of 0..1.
double gainForVolume(float setting);
// One period of a sine, SIN_TABLE_SIZE values (truncated, clamped to 1..32767) from -1 to 1.
std::vector<float> sineTable(float setting);

// Levels (volts) waiting for the audio device. The simulation pushes, the device's thread pulls.
// Full: the oldest levels go (the simulation ran ahead of real time; the newest sound wins).
// Empty: the device gets the last level again (the DAC holds its output; the simulation is
// behind real time).
class SampleRing {
 public:
  explicit SampleRing(size_t capacity);
  void push(const float* levels, size_t count);
  void pushRepeated(float level, size_t count);
  void pull(float* out, size_t count);
  size_t size() const;
  size_t capacity() const { return buffer_.size(); }
  uint64_t dropped() const;  // levels thrown away because the ring was full
  uint64_t padded() const;   // levels the device got repeated because the ring was empty
  void clear();

 private:
  void pushOne(float level);  // under lock_
  mutable std::mutex lock_;
  std::vector<float> buffer_;
  size_t head_ = 0, count_ = 0;
  float last_ = 0.0f;
  uint64_t dropped_ = 0, padded_ = 0;
};

// Turns the DAC's changes, stamped with simulated time, into levels at the device rate: each
// level holds until the next change (the DAC is a sample-and-hold). A level held longer than
// `maxHold` samples is no sound but a steady voltage: only maxHold of it is queued and the
// device repeats it from there, so a long quiet stretch does not delay what follows.
class DacSampler {
 public:
  DacSampler(SampleRing& ring, int rate, size_t maxHold);
  // The output became `volts` at simulated time `seconds`.
  void change(double seconds, float volts);
  // A reset of the chip: the time starts again at `seconds`, the level at 0 V.
  void restart(double seconds);
  float level() const { return level_; }

 private:
  SampleRing& ring_;
  double rate_;
  size_t maxHold_;
  int64_t next_ = -1;  // index of the next sample to queue; -1 before the first change
  float level_ = 0.0f;
};

// What the device plays for queued levels: the coupling capacitor in front of the amplifier
// takes away the steady part (so a held level fades to silence, a square wave is heard as one),
// then the volume; a test tone from the sine table is mixed in while it lasts.
class Renderer {
 public:
  explicit Renderer(int rate);
  void setGain(double gain) { gain_ = gain; }
  // Plays `table` one value per sample, for `samples` samples.
  void startTone(std::vector<float> table, size_t samples);
  bool toneActive() const { return toneLeft_ > 0; }
  // Converts levels in place into samples of -1..1.
  void render(float* levels, size_t count);

 private:
  double pole_;
  double gain_ = 0.1;
  double lastIn_ = -1.0, lastOut_ = 0.0;  // -1: 0 V, the output after reset
  std::vector<float> tone_;
  size_t tonePos_ = 0, toneLeft_ = 0;
};

// Whether the speaker sounds: the level changed at least twice within `window` nanoseconds of
// now (a single step is a click, not a sound).
class Activity {
 public:
  explicit Activity(uint64_t windowNanos) : window_(windowNanos) {}
  void change(uint64_t nowNanos);
  bool sounding(uint64_t nowNanos) const;

 private:
  // Written by the simulation thread, read by the UI thread.
  uint64_t window_;
  std::atomic<uint64_t> last_{0}, beforeLast_{0};
  std::atomic<int> changes_{0};
};

}  // namespace korvel::speaker
