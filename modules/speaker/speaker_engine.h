// The speaker's moving parts without a window: the DAC output's changes into the sample ring on
// the simulation thread, the ring into the audio device on the device's thread, the volume and
// sine-table settings, the test tone, and whether the speaker sounds. The host, the settings,
// the clock and the audio device come in as functions, so tests drive it all without them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "speaker_audio.h"

namespace korvel::platform {
class AudioStream;
}

namespace korvel::speaker {

struct EngineEnvironment {
  std::function<float()> aoutVolts;                       // the AOUT register, volts
  std::function<double()> seconds;                        // simulated time
  std::function<float(const char* key)> setting;          // 0.0 for a missing key
  std::function<void(const std::string& line)> message;  // one line to the user
  std::function<uint64_t()> nowNanos;                     // monotonic wall clock
  // Opens the device; null with the reason in *error when there is none.
  std::function<std::unique_ptr<platform::AudioStream>(int rate, std::function<void(float*, size_t)> pull,
                                                      std::string* error)>
      openStream;
};

class SpeakerEngine {
 public:
  // How much sound may wait for the device (its latency at most), and the longest steady level
  // queued at once.
  static constexpr double kBufferSeconds = 0.1, kMaxHoldSeconds = 0.05;
  // How long after its last change the speaker still shows as sounding.
  static constexpr uint64_t kActivityNanos = 200'000'000;
  static constexpr double kToneSeconds = 0.5;

  explicit SpeakerEngine(EngineEnvironment env);
  ~SpeakerEngine();

  // The board shows the speaker: opens the device (saying once, if there is none, that the
  // speaker stays silent) and starts taking the DAC's output.
  void start();
  // The board closes: the device is let go and changes are ignored.
  void stop();
  bool running() const { return running_.load(); }
  bool hasDevice() const;
  int rate() const;

  // The AOUT register changed (simulation thread).
  void aoutChanged();
  // The chip was reset: simulated time starts again.
  void reset();
  // Reads SPEAKER_IN_DLL_VOLUME and SIN_TABLE_SIZE again.
  void refreshSettings();
  // A test tone: the sine table played once per table length, for kToneSeconds.
  void playTestTone();
  bool sounding() const;

  // The device's side: fills `count` samples (also what tests call in the device's place).
  void pull(float* out, size_t count);
  const SampleRing* ring() const { return ring_.get(); }

 private:
  void build(int rate);  // under lock_

  EngineEnvironment env_;
  std::atomic<bool> running_{false};
  bool toldNoDevice_ = false;
  mutable std::mutex lock_;  // the ring, sampler and stream's existence
  std::unique_ptr<SampleRing> ring_;
  std::unique_ptr<DacSampler> sampler_;
  std::unique_ptr<platform::AudioStream> stream_;
  int rate_ = kDefaultRate;
  std::mutex renderLock_;  // the renderer: device thread and tone requests
  std::unique_ptr<Renderer> renderer_;
  std::atomic<double> gain_{0.1};
  std::atomic<float> tableSetting_{45.0f};
  Activity activity_{kActivityNanos};
};

}  // namespace korvel::speaker
