// Wall time of pot_tone on the simulator with and without the speaker engine on AOUT: paired,
// alternating runs; prints each pair's ratio and their minimum and median.
#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "agsi_host/functions.h"
#include "agsi_host/host.h"
#include "korvel/platform/platform.h"
#include "korvel_sim/simulator.h"
#include "speaker_engine.h"

namespace {

korvel::speaker::SpeakerEngine* gEngine = nullptr;
uint32_t gAout = 0;
void onAout(uint32_t, uint32_t) { gEngine->aoutChanged(); }

double run(bool speaker, double seconds, size_t* queued) {
  agsi_host::Host::instance().clear();
  AgsiDefineVTR("AIN5", AGSIVTRFLOAT, std::bit_cast<uint32_t>(3.3f));
  gAout = AgsiDefineVTR("AOUT", AGSIVTRFLOAT, 0);
  korvel::sim::Simulator sim;
  sim.setRealTime(false);
  korvel::speaker::SpeakerEngine engine({[] {
                                           uint32_t bits = 0;
                                           AgsiReadVTR(gAout, &bits);
                                           return std::bit_cast<float>(bits);
                                         },
                                         [] { return AgsiGetTime(); }, [](const char*) { return 10.0f; },
                                         [](const std::string&) {}, [] { return korvel::platform::monotonicNanos(); },
                                         nullptr});
  if (speaker) {
    gEngine = &engine;
    AgsiSetWatchOnVTR(gAout, onAout, AGSIWRITE);
    engine.start();
  }
  std::string error;
  if (!sim.loadFirmware(std::string(KORVEL_FIRMWARE_DIR) + "/pot_tone.elf", &error)) {
    std::fprintf(stderr, "speaker_bench: %s\n", error.c_str());
    std::exit(1);
  }
  auto t0 = std::chrono::steady_clock::now();
  sim.runFor(seconds);
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  *queued = engine.ring()->size();
  sim.stop();
  gEngine = nullptr;
  return wall;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 7;
  double seconds = argc > 2 ? std::atof(argv[2]) : 2.0;
  if (runs < 1 || !(seconds > 0)) {
    std::fprintf(stderr, "usage: speaker_bench [RUNS >= 1] [SECONDS > 0]\n");
    return 2;
  }
  std::vector<double> ratios;
  for (int i = 0; i < runs; ++i) {
    size_t q0 = 0, q1 = 0;
    double base = run(false, seconds, &q0);
    double with = run(true, seconds, &q1);
    ratios.push_back(with / base);
    std::printf("pair %d: baseline %.3f s, speaker %.3f s (ring %zu levels), ratio %.3f\n", i + 1, base, with, q1, with / base);
  }
  std::sort(ratios.begin(), ratios.end());
  std::printf("speaker / baseline: min %.3f, median %.3f over %d pairs of %.1f s simulated\n", ratios.front(),
              ratios[ratios.size() / 2], runs, seconds);
  return 0;
}
