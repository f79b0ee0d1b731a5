// Speed of the simulator on our own firmware, as fast as it can run (no real-time pacing).
// Every benchmark runs both execution engines in the same process: the paired ones alternate
// them inside each iteration and report the own engine against Unicorn; the others take the
// engine as their last argument (0 own, 1 unicorn).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "korvel_sim/simulator.h"

namespace {

using korvel::sim::EngineKind;
using korvel::sim::Simulator;
using korvel::sim::StopReason;

std::string firmware(const char* name) { return std::string(KORVEL_FIRMWARE_DIR) + "/" + name + ".elf"; }

EngineKind engineArg(const benchmark::State& state, int index) {
  return state.range(index) ? EngineKind::Unicorn : EngineKind::Own;
}

// The smallest of the repetitions, beside Google Benchmark's mean and median.
double minimum(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

// CPU time of the calling thread (the simulation runs in it): on a shared machine it shows
// the engine's own cost where wall time also counts other processes.
double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// cpu_loop to its exit on one engine: wall and CPU seconds, simulated seconds, cycles.
struct LoopRun {
  double wall = 0, cpu = 0, simulated = 0, cycles = 0;
  bool ok = false;
};
LoopRun runCpuLoop(EngineKind kind) {
  agsi_host::Host::instance().clear();
  Simulator sim(agsi_host::Host::instance(), kind);
  sim.setRealTime(false);
  LoopRun run;
  std::string error;
  if (!sim.loadFirmware(firmware("cpu_loop"), &error)) return run;
  auto t0 = std::chrono::steady_clock::now();
  double c0 = threadCpuSeconds();
  StopReason r = sim.runFor(100.0);
  run.cpu = threadCpuSeconds() - c0;
  run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  run.simulated = sim.seconds();
  run.cycles = double(sim.cycles());
  run.ok = r == StopReason::Exited;
  return run;
}

// The same CPU-bound work (cpu_loop to its exit) on both engines, alternating: wall time of
// each, the own engine's speed-up (Unicorn's wall time over its own), and each engine's
// simulated seconds per wall second. The engines count cycles differently (see the cycle
// model), so the speed-up compares the work, the real-time ratios what a user sees.
void BM_CpuBoundLoop(benchmark::State& state) {
  for (auto _ : state) {
    LoopRun unicorn = runCpuLoop(EngineKind::Unicorn), own = runCpuLoop(EngineKind::Own);
    if (!unicorn.ok || !own.ok) {
      state.SkipWithError("cpu_loop did not exit");
      return;
    }
    state.counters["wall_ms_own"] = own.wall * 1e3;
    state.counters["wall_ms_unicorn"] = unicorn.wall * 1e3;
    state.counters["own_speedup"] = unicorn.wall / own.wall;
    state.counters["sim_per_wall_own"] = own.simulated / own.wall;
    state.counters["sim_per_wall_unicorn"] = unicorn.simulated / unicorn.wall;
    state.counters["cpu_ms_own"] = own.cpu * 1e3;
    state.counters["cpu_ms_unicorn"] = unicorn.cpu * 1e3;
    state.counters["sim_per_cpu_own"] = own.simulated / own.cpu;
    state.counters["sim_per_cpu_unicorn"] = unicorn.simulated / unicorn.cpu;
    state.counters["Mcycles_per_s_own"] = own.cycles / own.wall / 1e6;
    state.counters["Mcycles_per_s_unicorn"] = unicorn.cycles / unicorn.wall / 1e6;
  }
}
BENCHMARK(BM_CpuBoundLoop)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)
    ->ComputeStatistics("min", minimum);

// The cost of peripherals that end slices on their own: cpu_loop for 50 ms of simulated time,
// alone (0), with PWM1 at 20 kHz driving P2.0 (1), and with the ADC scanning two channels in
// burst mode with its interrupt enabled but not taken (2).
void BM_CpuLoopWithPeripherals(benchmark::State& state) {
  for (auto _ : state) {
    agsi_host::Host::instance().clear();
    Simulator sim(agsi_host::Host::instance(), engineArg(state, 1));
    sim.setRealTime(false);
    std::string error;
    if (!sim.loadFirmware(firmware("cpu_loop"), &error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    auto poke = [&](uint32_t address, uint32_t v) { sim.write(address, 4, reinterpret_cast<const uint8_t*>(&v)); };
    if (state.range(0) == 1) {
      poke(0x4002C010, 1);             // P2.0 is PWM1.1
      poke(0x40018018, 1249);          // MR0: 1250 counts at PCLK 25 MHz
      poke(0x4001801C, 300);           // MR1
      poke(0x40018014, 2);             // reset on MR0
      poke(0x4001804C, 1u << 9);       // PWM1.1 enabled
      poke(0x40018004, 1 | 8);
    } else if (state.range(0) == 2) {
      poke(0x4003400C, 3);                              // channel interrupts 0 and 1
      poke(0x40034000, 3 | (1u << 8) | (1u << 16) | (1u << 21));  // burst over AD0.0-1, 12.5 MHz
    }
    auto t0 = std::chrono::steady_clock::now();
    sim.runFor(0.05);
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.counters["sim_s_per_wall_s"] = sim.seconds() / wall;
  }
}
BENCHMARK(BM_CpuLoopWithPeripherals)->ArgsProduct({{0, 1, 2}, {0, 1}})->Unit(benchmark::kMillisecond)->Iterations(1);

uint32_t fillsAddress = 0;  // of the firmware's `fills` variable

struct FillRun {
  double wall = 0, cpu = 0, simulated = 0;
  bool ok = false;
};

// Runs lcd_fill with `fills` full-screen fills through the staged plug-in (the LCD controller's
// watches see every pin change, as in the board demo).
FillRun runFills(agsi_host::Plugin& plugin, uint32_t fills, EngineKind kind) {
  Simulator sim(agsi_host::Host::instance(), kind);
  sim.setRealTime(false);
  FillRun run;
  std::string error;
  if (!sim.loadFirmware(firmware("lcd_fill"), &error)) return run;
  plugin.reset();
  uint8_t bytes[4];
  std::memcpy(bytes, &fills, 4);
  if (!sim.write(fillsAddress, 4, bytes)) return run;
  auto t0 = std::chrono::steady_clock::now();
  double c0 = threadCpuSeconds();
  StopReason r = sim.runFor(100.0);
  run.cpu = threadCpuSeconds() - c0;
  run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  run.simulated = sim.seconds();
  run.ok = r == StopReason::Exited;
  return run;
}

// Simulated versus wall time while firmware fills the whole LCD through the latch/transceiver
// bus, and the wall time of one full-screen fill (76 800 pixels, six pin writes each).
void BM_FullScreenFill(benchmark::State& state) {
  agsi_host::Host::instance().clear();
  agsi_host::Plugin plugin;
  std::string error;
  if (!plugin.load(KORVEL_PLUGIN, &error) || !plugin.check() || !plugin.init()) {
    state.SkipWithError(("the staged plug-in is needed: " + error).c_str());
    return;
  }
  {
    korvel::sim::ElfImage image;
    korvel::sim::readElf(firmware("lcd_fill"), {{0, Simulator::kFlashSize, "flash"}, {Simulator::kSramBase, Simulator::kSramSize, "SRAM"}}, &image, &error);
    for (auto& s : image.symbols)
      if (s.name == "fills") fillsAddress = s.address;
  }
  for (auto _ : state) {
    double wall[2] = {}, cpu[2] = {}, simulated[2] = {};
    for (int k : {1, 0}) {  // Unicorn first, then the own engine
      EngineKind kind = k ? EngineKind::Unicorn : EngineKind::Own;
      FillRun one = runFills(plugin, 1, kind), many = runFills(plugin, 6, kind);
      if (!one.ok || !many.ok) {
        state.SkipWithError("lcd_fill did not exit");
        plugin.terminate();
        return;
      }
      wall[k] = (many.wall - one.wall) / 5, simulated[k] = (many.simulated - one.simulated) / 5;
      cpu[k] = (many.cpu - one.cpu) / 5;
    }
    state.counters["fill_wall_ms_own"] = wall[0] * 1e3;
    state.counters["fill_wall_ms_unicorn"] = wall[1] * 1e3;
    state.counters["own_speedup"] = wall[1] / wall[0];
    state.counters["fill_cpu_ms_own"] = cpu[0] * 1e3;
    state.counters["fill_cpu_ms_unicorn"] = cpu[1] * 1e3;
    state.counters["fill_sim_ms_own"] = simulated[0] * 1e3;
    state.counters["fill_sim_ms_unicorn"] = simulated[1] * 1e3;
    state.counters["sim_per_wall_own"] = simulated[0] / wall[0];
    state.counters["sim_per_wall_unicorn"] = simulated[1] / wall[1];
  }
  plugin.terminate();
}
BENCHMARK(BM_FullScreenFill)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)
    ->ComputeStatistics("min", minimum);

// A firmware printing numbered lines in a tight loop: the transmitter paces it at the baud
// rate (lines per simulated second), and the polling costs wall time, reported as the
// simulated/wall ratio beside the CPU-bound loop's in the same iteration.
void BM_UartPrintLoop(benchmark::State& state) {
  for (auto _ : state) {
    double ratio[2] = {0, 0};
    size_t lines = 0;
    for (int k = 0; k < 2; ++k) {
      agsi_host::Host::instance().clear();
      Simulator sim(agsi_host::Host::instance(), engineArg(state, 0));
      sim.setRealTime(false);
      sim.setOutput([&](const std::string&) { lines += k; });
      std::string error;
      if (!sim.loadFirmware(firmware(k ? "uart_flood" : "cpu_loop"), &error)) {
        state.SkipWithError(error.c_str());
        return;
      }
      auto t0 = std::chrono::steady_clock::now();
      sim.runFor(0.2);
      double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      ratio[k] = sim.seconds() / wall;
    }
    state.counters["lines_per_sim_s"] = double(lines) / 0.2;
    state.counters["sim_per_wall_print"] = ratio[1];
    state.counters["sim_per_wall_cpu_loop"] = ratio[0];
    state.counters["print_vs_cpu_loop"] = ratio[1] / ratio[0];
  }
}
BENCHMARK(BM_UartPrintLoop)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)
    ->ComputeStatistics("min", minimum)->ReportAggregatesOnly(false);

}  // namespace

// What the debugger's stops cost a run that never meets them: cpu_loop's MIPS with nothing set
// (0), one breakpoint on code that never runs (1), one watchpoint on RAM nothing touches (2);
// second argument: the engine (0 own, 1 Unicorn). Compare each against its engine's arg 0 from
// the same run.
void BM_DebugPointsCost(benchmark::State& state) {
  auto kind = state.range(1) == 0 ? korvel::sim::EngineKind::Own : korvel::sim::EngineKind::Unicorn;
  for (auto _ : state) {
    agsi_host::Host::instance().clear();
    Simulator sim(agsi_host::Host::instance(), kind);
    sim.setRealTime(false);
    std::string error;
    if (!sim.loadFirmware(firmware("cpu_loop"), &error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    if (state.range(0) == 1) sim.setBreakpoint(Simulator::kFlashSize - 16, true);
    if (state.range(0) == 2) sim.setWatchpoint(Simulator::kAhbSramBase + Simulator::kAhbSramSize - 16, 4, true, true, true);
    auto t0 = std::chrono::steady_clock::now();
    StopReason r = sim.runFor(100.0);
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (r != StopReason::Exited) state.SkipWithError("cpu_loop did not exit");
    state.counters["MIPS"] = double(sim.cycles()) / wall / 1e6;
  }
}
BENCHMARK(BM_DebugPointsCost)
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(false);

BENCHMARK_MAIN();
