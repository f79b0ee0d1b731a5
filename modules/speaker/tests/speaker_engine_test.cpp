// The speaker engine with a pretend host, clock and audio device: the DAC's output reaches the
// ring only while the board shows the speaker, the device rate is followed, a missing device is
// reported once, and the test tone and volume come from the settings.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "korvel/platform/platform.h"
#include "speaker_engine.h"

using namespace korvel::speaker;

namespace {

struct FakeStream : korvel::platform::AudioStream {
  explicit FakeStream(int r) : rate(r) {}
  int sampleRate() const override { return rate; }
  int rate;
};

struct World {
  float aout = 0;
  double seconds = 0;
  uint64_t nanos = 0;
  std::map<std::string, float> settings{{"SPEAKER_IN_DLL_VOLUME", 10.0f}, {"SIN_TABLE_SIZE", 45.0f}};
  std::vector<std::string> messages;
  int deviceRate = 0;  // 0: no device
  std::function<void(float*, size_t)> pull;

  EngineEnvironment env() {
    return {[this] { return aout; },
            [this] { return seconds; },
            [this](const char* k) { return settings.count(k) ? settings[k] : 0.0f; },
            [this](const std::string& m) { messages.push_back(m); },
            [this] { return nanos; },
            [this](int, std::function<void(float*, size_t)> p, std::string* error)
                -> std::unique_ptr<korvel::platform::AudioStream> {
              if (deviceRate == 0) {
                *error = "only the \"dummy\" audio driver";
                return nullptr;
              }
              pull = std::move(p);
              return std::make_unique<FakeStream>(deviceRate);
            }};
  }
  // The DAC's output changes at simulated time t.
  void dac(SpeakerEngine& e, double t, float v) {
    seconds = t;
    aout = v;
    nanos = uint64_t(t * 1e9);
    e.aoutChanged();
  }
};

TEST(SpeakerEngineTest, WithoutADeviceItSaysSoOnceAndStillTakesTheDacOutput) {
  World w;
  SpeakerEngine e(w.env());
  w.dac(e, 0.001, 3.3f);
  EXPECT_EQ(e.ring()->size(), 0u) << "no board, no speaker: nothing is taken";
  e.start();
  EXPECT_FALSE(e.hasDevice());
  ASSERT_EQ(w.messages.size(), 1u);
  EXPECT_EQ(w.messages[0], "Speaker: no audio device (only the \"dummy\" audio driver); the speaker plays nothing.");
  e.stop();
  e.start();
  EXPECT_EQ(w.messages.size(), 1u) << "said once";
  for (int i = 1; i <= 10; ++i) w.dac(e, 0.001 * i, i % 2 ? 3.3f : 0.0f);
  EXPECT_EQ(e.ring()->size(), size_t(0.009 * kDefaultRate) + 1) << "9 ms of levels at the default rate";
  EXPECT_TRUE(e.sounding());
  w.nanos += 1'000'000'000;
  EXPECT_FALSE(e.sounding()) << "a second later the speaker is quiet";
}

TEST(SpeakerEngineTest, TheDeviceRateSetsTheSamplingAndPullsPlayTheDacThroughTheVolume) {
  World w;
  w.deviceRate = 8000;
  w.settings["SPEAKER_IN_DLL_VOLUME"] = 50.0f;
  SpeakerEngine e(w.env());
  e.start();
  ASSERT_TRUE(e.hasDevice());
  EXPECT_TRUE(w.messages.empty());
  EXPECT_EQ(e.rate(), 8000);
  EXPECT_EQ(e.ring()->capacity(), 800u) << "100 ms";
  // A 500 Hz square wave for 50 ms: a change every millisecond, 8 samples each.
  for (int i = 1; i <= 50; ++i) w.dac(e, 0.001 * i, i % 2 ? 3.3f : 0.0f);
  EXPECT_EQ(e.ring()->size(), 400u);
  std::vector<float> out(400);
  w.pull(out.data(), out.size());
  // Once the coupling capacitor has charged (its first steps swing twice as far), the wave swings
  // by the full scale times the volume.
  float peak = 0;
  for (size_t i = 300; i < out.size(); ++i) peak = std::max(peak, std::fabs(out[i]));
  EXPECT_GT(peak, 0.45f);
  EXPECT_LE(peak, 0.55f) << "half volume (and a little droop)";
  // The simulation keeps running far ahead of the device: the ring stays bounded.
  for (int i = 51; i <= 1000; ++i) w.dac(e, 0.001 * i, i % 2 ? 3.3f : 0.0f);
  EXPECT_EQ(e.ring()->size(), 800u);
  EXPECT_GT(e.ring()->dropped(), 0u);
  e.stop();
  EXPECT_FALSE(e.hasDevice());
  size_t before = e.ring()->size();
  w.dac(e, 1.5, 1.0f);
  EXPECT_EQ(e.ring()->size(), before) << "a closed board takes nothing";
}

TEST(SpeakerEngineTest, TheTestToneFollowsTheSineTableSize) {
  World w;
  w.deviceRate = 1000;
  w.settings["SIN_TABLE_SIZE"] = 4.0f;
  w.settings["SPEAKER_IN_DLL_VOLUME"] = 100.0f;
  SpeakerEngine e(w.env());
  e.start();
  e.playTestTone();
  std::vector<float> out(8);
  w.pull(out.data(), out.size());
  for (size_t i = 0; i < out.size(); ++i) EXPECT_NEAR(out[i], std::sin(2 * M_PI * double(i % 4) / 4), 1e-6) << i;
  w.settings["SIN_TABLE_SIZE"] = 8.0f;
  e.refreshSettings();
  e.playTestTone();
  w.pull(out.data(), out.size());
  EXPECT_NEAR(out[2], 1.0, 1e-6) << "a quarter of the longer table";
}

TEST(SpeakerEngineTest, AResetStartsTheTimeAgain) {
  World w;
  SpeakerEngine e(w.env());
  e.start();
  w.dac(e, 0.5, 3.3f);
  size_t before = e.ring()->size();
  w.dac(e, 0.001, 0.0f);
  EXPECT_EQ(e.ring()->size(), before) << "without a reset, earlier time queues nothing";
  w.seconds = 0.0;
  e.reset();
  w.dac(e, 0.001, 3.3f);
  EXPECT_EQ(e.ring()->size(), before + size_t(0.001 * kDefaultRate)) << "1 ms of 0 V after the reset";
}

}  // namespace
