// The firmware's DAC output reaching the speaker: pot_tone plays a 500 Hz square wave whose
// level is its AD0.5 reading; the simulator's DAC writes AOUT, whose watch hands each change to
// the speaker engine, which samples it against simulated time into its ring.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <string>
#include <vector>

#include "agsi_host/functions.h"
#include "agsi_host/host.h"
#include "korvel/platform/platform.h"
#include "korvel_sim/simulator.h"
#include "speaker_engine.h"

namespace {

using korvel::speaker::SpeakerEngine;

SpeakerEngine* gEngine = nullptr;
uint32_t gAout = 0;
void onAout(uint32_t, uint32_t) { gEngine->aoutChanged(); }

struct Played {
  float peak = 0;
  int crossings = 0;
  std::vector<std::string> messages;
  size_t queued = 0;
};

// Runs pot_tone for `seconds` with the potentiometer's voltage at `ain5`, then pulls what the
// ring holds through the renderer at half volume (full volume would clip the first swings).
Played play(float ain5, double seconds) {
  agsi_host::Host::instance().clear();
  AgsiDefineVTR("AIN5", AGSIVTRFLOAT, std::bit_cast<uint32_t>(ain5));
  gAout = AgsiDefineVTR("AOUT", AGSIVTRFLOAT, 0);
  korvel::sim::Simulator sim;
  sim.setRealTime(false);
  Played p;
  SpeakerEngine engine({[] {
                          uint32_t bits = 0;
                          AgsiReadVTR(gAout, &bits);
                          return std::bit_cast<float>(bits);
                        },
                        [] { return AgsiGetTime(); },
                        [](const char* key) { return std::string(key) == "SPEAKER_IN_DLL_VOLUME" ? 50.0f : 45.0f; },
                        [&p](const std::string& m) { p.messages.push_back(m); },
                        [] { return korvel::platform::monotonicNanos(); },
                        nullptr});
  gEngine = &engine;
  EXPECT_TRUE(AgsiSetWatchOnVTR(gAout, onAout, AGSIWRITE));
  engine.start();
  std::string error;
  EXPECT_TRUE(sim.loadFirmware(std::string(KORVEL_FIRMWARE_DIR) + "/pot_tone.elf", &error)) << error;
  sim.runFor(seconds);
  p.queued = engine.ring()->size();
  std::vector<float> out(p.queued);
  engine.pull(out.data(), out.size());
  // Skip the first 20 ms while the coupling capacitor charges.
  for (size_t i = 882; i < out.size(); ++i) {
    p.peak = std::max(p.peak, std::fabs(out[i]));
    if (i > 882 && (out[i] > 0) != (out[i - 1] > 0)) ++p.crossings;
  }
  sim.stop();
  gEngine = nullptr;
  return p;
}

TEST(SpeakerPath, TheDacsSquareWaveFillsTheRingAtThePotentiometersLevel) {
  Played loud = play(3.3f, 0.3);
  ASSERT_EQ(loud.messages.size(), 1u) << "no device here: said once";
  EXPECT_EQ(loud.queued, 4410u) << "the ring keeps the newest 100 ms when the simulation runs ahead";
  EXPECT_GT(loud.peak, 0.45f) << "full-scale square wave at half volume";
  EXPECT_LT(loud.peak, 0.6f);
  EXPECT_NEAR(loud.crossings, 80, 4) << "500 Hz: two crossings a period over 80 ms";
  Played quiet = play(0.825f, 0.3);
  EXPECT_NEAR(quiet.peak / loud.peak, 0.25, 0.03) << "a quarter turn, a quarter of the swing";
}

}  // namespace
