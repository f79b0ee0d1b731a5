// The speaker's sound path: settings, the ring's overflow and underflow, sampling the DAC against
// simulated time, the conversion to samples, and when the speaker shows as sounding.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "speaker_audio.h"

using namespace korvel::speaker;

namespace {

TEST(SpeakerSettings, VolumeIsAClampedPercentage) {
  EXPECT_DOUBLE_EQ(gainForVolume(10), 0.1) << "the default";
  EXPECT_DOUBLE_EQ(gainForVolume(100), 1.0);
  EXPECT_DOUBLE_EQ(gainForVolume(250), 1.0);
  EXPECT_DOUBLE_EQ(gainForVolume(-5), 0.0);
  EXPECT_DOUBLE_EQ(gainForVolume(NAN), 0.0);
}

TEST(SpeakerSettings, TheSineTableHoldsOnePeriodOfTheSetLength) {
  std::vector<float> t = sineTable(45.9f);
  ASSERT_EQ(t.size(), 45u) << "truncated";
  EXPECT_FLOAT_EQ(t[0], 0.0f);
  EXPECT_NEAR(t[45 / 4], std::sin(2 * M_PI * 11 / 45), 1e-6);
  float peak = 0;
  for (float v : t) peak = std::max(peak, std::fabs(v));
  EXPECT_NEAR(peak, 1.0, 0.01);
  EXPECT_EQ(sineTable(0).size(), 1u);
  EXPECT_EQ(sineTable(-3).size(), 1u);
  EXPECT_EQ(sineTable(1e9f).size(), 32767u);
  EXPECT_EQ(sineTable(NAN).size(), 1u);
}

TEST(SpeakerRing, KeepsTheNewestWhenFullAndHoldsTheLastLevelWhenEmpty) {
  SampleRing ring(4);
  const float in[] = {1, 2, 3, 4, 5, 6};
  ring.push(in, 6);
  EXPECT_EQ(ring.size(), 4u);
  EXPECT_EQ(ring.dropped(), 2u);
  float out[6];
  ring.pull(out, 6);
  EXPECT_EQ(std::vector<float>(out, out + 6), (std::vector<float>{3, 4, 5, 6, 6, 6}));
  EXPECT_EQ(ring.padded(), 2u);
  EXPECT_EQ(ring.size(), 0u);
  ring.pull(out, 2);
  EXPECT_EQ(out[1], 6.0f) << "an empty ring keeps giving the DAC's last level";
  // Wrapping around the end of the storage keeps the order.
  ring.push(in, 3);
  ring.pull(out, 2);
  ring.push(in + 3, 3);
  ring.pull(out, 4);
  EXPECT_EQ(std::vector<float>(out, out + 4), (std::vector<float>{3, 4, 5, 6}));
  ring.pushRepeated(9, 1000);
  EXPECT_EQ(ring.size(), 4u);
  EXPECT_EQ(ring.dropped(), 2u + 996u);
}

TEST(SpeakerSampler, EachLevelHoldsUntilTheNextChangeAtTheDeviceRate) {
  SampleRing ring(1000);
  DacSampler sampler(ring, 1000, 500);  // 1 kHz: one sample per millisecond
  sampler.change(0.0, 1.0f);
  sampler.change(0.003, 2.0f);  // 1 V for 3 ms
  sampler.change(0.0035, 2.5f); // within one sample: 2.0 never shows
  sampler.change(0.005, 0.0f);  // 2.5 V from sample 3 to 5
  std::vector<float> out(ring.size());
  ring.pull(out.data(), out.size());
  EXPECT_EQ(out, (std::vector<float>{1, 1, 1, 2.5f, 2.5f}));
}

TEST(SpeakerSampler, ALongSteadyLevelQueuesOnlyMaxHoldAndTimeGoingBackRestarts) {
  SampleRing ring(10000);
  DacSampler sampler(ring, 1000, 50);
  sampler.change(0.0, 3.0f);
  sampler.change(10.0, 0.0f);  // ten seconds of 3 V
  EXPECT_EQ(ring.size(), 50u) << "the device holds the rest itself";
  sampler.change(2.0, 1.0f);  // time went backwards (an unannounced reset)
  EXPECT_EQ(ring.size(), 50u) << "nothing queued for negative time";
  sampler.change(2.002, 0.0f);
  EXPECT_EQ(ring.size(), 52u);
  sampler.change(NAN, 1.0f);  // nonsense time is treated as 0, not as a huge gap
  EXPECT_EQ(ring.size(), 52u);
  sampler.restart(0.0);
  EXPECT_EQ(sampler.level(), 0.0f);
}

TEST(SpeakerRenderer, ASquareWaveSwingsAroundZeroAndAHeldLevelFadesToSilence) {
  Renderer r(44100);
  r.setGain(1.0);
  std::vector<float> buf(4410);
  for (size_t i = 0; i < buf.size(); ++i) buf[i] = (i / 22) % 2 ? 3.3f : 0.0f;  // ~1 kHz
  r.render(buf.data(), buf.size());
  float lo = 1, hi = -1;
  for (size_t i = 2000; i < buf.size(); ++i) {
    lo = std::min(lo, buf[i]);
    hi = std::max(hi, buf[i]);
  }
  EXPECT_GT(hi, 0.9f);
  EXPECT_LT(lo, -0.9f);
  std::vector<float> held(44100, 3.3f);
  r.render(held.data(), held.size());
  EXPECT_LT(std::fabs(held.back()), 0.01f) << "a steady level is no sound";
  for (float v : held) ASSERT_LE(std::fabs(v), 1.0f);
}

TEST(SpeakerRenderer, VolumeScalesAndTheToneUsesTheTableForItsLength) {
  Renderer r(1000);
  r.setGain(0.5);
  r.startTone({0.0f, 1.0f, 0.0f, -1.0f}, 6);
  EXPECT_TRUE(r.toneActive());
  std::vector<float> buf(8, 0.0f);  // 0 V all along: only the tone
  r.render(buf.data(), buf.size());
  EXPECT_EQ(buf, (std::vector<float>{0, 0.5f, 0, -0.5f, 0, 0.5f, 0, 0}));
  EXPECT_FALSE(r.toneActive());
  r.setGain(0.0);
  std::vector<float> loud(8, 3.3f);
  r.render(loud.data(), loud.size());
  for (float v : loud) EXPECT_EQ(v, 0.0f) << "volume 0 is silent";
}

TEST(SpeakerActivity, SoundsWhileTheLevelKeepsChanging) {
  Activity a(200);
  EXPECT_FALSE(a.sounding(0));
  a.change(1000);
  EXPECT_FALSE(a.sounding(1000)) << "one step is a click";
  a.change(1100);
  EXPECT_TRUE(a.sounding(1150));
  EXPECT_TRUE(a.sounding(1200));
  EXPECT_FALSE(a.sounding(1301)) << "quiet again after the window";
}

}  // namespace
