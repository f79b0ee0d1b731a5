// Speed of the simulator on our own firmware, as fast as it can run (no real-time pacing).
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "korvel_sim/simulator.h"

namespace {

using korvel::sim::Simulator;
using korvel::sim::StopReason;

std::string firmware(const char* name) { return std::string(KORVEL_FIRMWARE_DIR) + "/" + name + ".elf"; }

// Millions of simulated instructions (cycles, at one per half-word of code) per wall second.
void BM_CpuBoundLoopMips(benchmark::State& state) {
  for (auto _ : state) {
    agsi_host::Host::instance().clear();
    Simulator sim;
    sim.setRealTime(false);
    std::string error;
    if (!sim.loadFirmware(firmware("cpu_loop"), &error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    auto t0 = std::chrono::steady_clock::now();
    StopReason r = sim.runFor(100.0);
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (r != StopReason::Exited) state.SkipWithError("cpu_loop did not exit");
    state.counters["MIPS"] = double(sim.cycles()) / wall / 1e6;
    state.counters["sim_s_per_wall_s"] = sim.seconds() / wall;
  }
}
BENCHMARK(BM_CpuBoundLoopMips)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
