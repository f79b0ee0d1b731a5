// Speed of the simulator on our own firmware, as fast as it can run (no real-time pacing).
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <cstdio>
#include <cstring>
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

// The cost of peripherals that end slices on their own: cpu_loop for 50 ms of simulated time,
// alone (0), with PWM1 at 20 kHz driving P2.0 (1), and with the ADC scanning two channels in
// burst mode with its interrupt enabled but not taken (2).
void BM_CpuLoopWithPeripherals(benchmark::State& state) {
  for (auto _ : state) {
    agsi_host::Host::instance().clear();
    Simulator sim;
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
BENCHMARK(BM_CpuLoopWithPeripherals)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(1);

uint32_t fillsAddress = 0;  // of the firmware's `fills` variable

struct FillRun {
  double wall = 0, simulated = 0;
  bool ok = false;
};

// Runs lcd_fill with `fills` full-screen fills through the staged plug-in (the LCD controller's
// watches see every pin change, as in the board demo).
FillRun runFills(agsi_host::Plugin& plugin, uint32_t fills) {
  Simulator sim;
  sim.setRealTime(false);
  FillRun run;
  std::string error;
  if (!sim.loadFirmware(firmware("lcd_fill"), &error)) return run;
  plugin.reset();
  uint8_t bytes[4];
  std::memcpy(bytes, &fills, 4);
  if (!sim.write(fillsAddress, 4, bytes)) return run;
  auto t0 = std::chrono::steady_clock::now();
  StopReason r = sim.runFor(100.0);
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
    FillRun one = runFills(plugin, 1), many = runFills(plugin, 6);
    if (!one.ok || !many.ok) {
      state.SkipWithError("lcd_fill did not exit");
      break;
    }
    double wall = (many.wall - one.wall) / 5, simulated = (many.simulated - one.simulated) / 5;
    state.counters["fill_wall_ms"] = wall * 1e3;
    state.counters["fill_sim_ms"] = simulated * 1e3;
    state.counters["sim_per_wall"] = simulated / wall;
  }
  plugin.terminate();
}
BENCHMARK(BM_FullScreenFill)->Unit(benchmark::kMillisecond)->Iterations(1);

// A firmware printing numbered lines in a tight loop: the transmitter paces it at the baud
// rate (lines per simulated second), and the polling costs wall time, reported as the
// simulated/wall ratio beside the CPU-bound loop's in the same iteration.
void BM_UartPrintLoop(benchmark::State& state) {
  for (auto _ : state) {
    double ratio[2] = {0, 0};
    size_t lines = 0;
    for (int k = 0; k < 2; ++k) {
      agsi_host::Host::instance().clear();
      Simulator sim;
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
BENCHMARK(BM_UartPrintLoop)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(false);

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
