// The simulator's debugger calls on real firmware, with each engine: breakpoints (also where an
// exception entry or a slice boundary leaves the PC), single steps, write and read watchpoints,
// registers and memory (flash too), halting a running simulation, and running on to the exit.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>

#include "korvel_sim/elf_image.h"
#include "korvel_sim/simulator.h"

namespace {

using korvel::sim::EngineKind;
using korvel::sim::Simulator;
using korvel::sim::StopReason;

std::string firmware(const std::string& name) { return std::string(KORVEL_FIRMWARE_DIR) + "/" + name + ".elf"; }

uint32_t symbol(const std::string& file, const std::string& name) {
  korvel::sim::ElfImage image;
  std::string error;
  std::vector<korvel::sim::MemoryRange> allowed = {{Simulator::kFlashBase, Simulator::kFlashSize, "flash"},
                                                   {Simulator::kSramBase, Simulator::kSramSize, "SRAM"},
                                                   {Simulator::kAhbSramBase, Simulator::kAhbSramSize, "AHB SRAM"}};
  EXPECT_TRUE(korvel::sim::readElf(file, allowed, &image, &error)) << error;
  for (const auto& s : image.symbols)
    if (s.name == name) return s.address & ~1u;
  ADD_FAILURE() << "no symbol " << name;
  return 0;
}

// A simulator whose runs on its own thread are awaited like a debugger awaits a stop.
struct Debuggee {
  Simulator sim;
  std::mutex mutex;
  std::condition_variable changed;
  std::optional<StopReason> ended;

  explicit Debuggee(EngineKind kind) : sim(agsi_host::Host::instance(), kind) {
    sim.setRealTime(false);
    sim.setOnRunEnded([this](StopReason r) {
      std::lock_guard lock(mutex);
      ended = r;
      changed.notify_all();
    });
  }
  ~Debuggee() { sim.stop(); }
  StopReason resume() {
    {
      std::lock_guard lock(mutex);
      ended.reset();
    }
    sim.start();
    std::unique_lock lock(mutex);
    EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(30), [this] { return ended.has_value(); })) << "no stop";
    StopReason r = ended.value_or(StopReason::None);
    lock.unlock();
    sim.stop();  // the thread has ended: join it
    return r;
  }
  uint32_t pc() {
    Simulator::DebugRegisters r{};
    EXPECT_TRUE(sim.debugRegisters(&r));
    return r[15];
  }
  uint32_t word(uint32_t address) {
    uint32_t v = 0;
    EXPECT_TRUE(sim.debugRead(address, 4, reinterpret_cast<uint8_t*>(&v)));
    return v;
  }
};

class SimulatorDebug : public ::testing::TestWithParam<EngineKind> {
 protected:
  void SetUp() override { agsi_host::Host::instance().clear(); }
};

TEST_P(SimulatorDebug, BreakStepWatchAndRunToTheExit) {
  const std::string file = firmware("debug_target");
  const uint32_t bump = symbol(file, "bump"), counter = symbol(file, "counter"), watched = symbol(file, "watched"),
                 status = symbol(file, "status");
  Debuggee d(GetParam());
  std::string error;
  ASSERT_TRUE(d.sim.loadFirmware(file, &error)) << error;

  ASSERT_TRUE(d.sim.setBreakpoint(bump, true));
  ASSERT_EQ(d.resume(), StopReason::Breakpoint);
  EXPECT_EQ(d.pc(), bump);
  EXPECT_EQ(d.word(counter), 0u);
  // Going on from a breakpoint executes its instruction; the next call stops there again.
  ASSERT_EQ(d.resume(), StopReason::Breakpoint);
  EXPECT_EQ(d.pc(), bump);
  EXPECT_EQ(d.word(counter), 2u);

  // Single steps move through the function one instruction at a time.
  ASSERT_TRUE(d.sim.setBreakpoint(bump, false));
  uint32_t before = d.pc();
  EXPECT_EQ(d.sim.debugStep(), StopReason::None);
  EXPECT_NE(d.pc(), before);
  EXPECT_GT(d.pc(), bump);
  EXPECT_LT(d.pc(), bump + 16);

  // Registers written by the debugger are what the firmware then sees.
  Simulator::DebugRegisters regs{};
  ASSERT_TRUE(d.sim.debugRegisters(&regs));
  EXPECT_EQ(regs[13], regs[17]) << "sp is msp in thread mode";
  EXPECT_EQ(regs[16] & 0x01000000u, 0x01000000u) << "Thumb bit";
  regs[12] = 0xA5A5A5A5;
  ASSERT_TRUE(d.sim.setDebugRegisters(regs));
  ASSERT_TRUE(d.sim.debugRegisters(&regs));
  EXPECT_EQ(regs[12], 0xA5A5A5A5u);

  // A write watchpoint stops the run after the store: the value is already there.
  ASSERT_TRUE(d.sim.setWatchpoint(watched, 4, false, true, true));
  ASSERT_EQ(d.resume(), StopReason::Watchpoint);
  EXPECT_EQ(d.sim.watchHit(), watched);
  EXPECT_EQ(d.word(watched), 30u);
  // A read watchpoint then sees the load that follows.
  d.sim.clearDebugPoints();
  ASSERT_TRUE(d.sim.setWatchpoint(watched, 4, true, false, true));
  ASSERT_EQ(d.resume(), StopReason::Watchpoint);
  EXPECT_EQ(d.sim.watchHit(), watched);
  d.sim.clearDebugPoints();

  // Memory written by the debugger: RAM and flash (stopped), then the run ends with its status.
  uint32_t nine = 9;
  ASSERT_TRUE(d.sim.debugWrite(status, 4, reinterpret_cast<const uint8_t*>(&nine)));
  uint32_t spare = Simulator::kFlashSize - 4, pattern = 0x12345678;
  ASSERT_TRUE(d.sim.eraseFlash(spare, 4));
  EXPECT_EQ(d.word(spare), 0xFFFFFFFFu);
  ASSERT_TRUE(d.sim.debugWrite(spare, 4, reinterpret_cast<const uint8_t*>(&pattern)));
  EXPECT_EQ(d.word(spare), pattern);
  EXPECT_FALSE(d.sim.eraseFlash(Simulator::kFlashSize - 2, 4));
  ASSERT_EQ(d.resume(), StopReason::Exited);
  EXPECT_EQ(d.sim.exitStatus(), 9);
  EXPECT_EQ(d.sim.debugStep(), StopReason::Exited);
}

TEST_P(SimulatorDebug, BreakpointInAnInterruptHandlerAndHaltWhileRunning) {
  // interrupts.elf takes SysTick and external interrupts: a breakpoint on a handler's first
  // instruction stops the run although the engine is entered there by the exception.
  const std::string file = firmware("interrupts");
  const uint32_t handler = symbol(file, "SysTick_Handler");
  ASSERT_NE(handler, 0u);
  Debuggee d(GetParam());
  std::string error;
  ASSERT_TRUE(d.sim.loadFirmware(file, &error)) << error;
  ASSERT_TRUE(d.sim.setBreakpoint(handler, true));
  ASSERT_EQ(d.resume(), StopReason::Breakpoint);
  EXPECT_EQ(d.pc(), handler);
  Simulator::DebugRegisters regs{};
  ASSERT_TRUE(d.sim.debugRegisters(&regs));
  EXPECT_EQ(regs[16] & 0x1FF, 15u) << "IPSR: in the SysTick handler";
  d.sim.clearDebugPoints();

  // While the thread runs, the debugger's register calls refuse; a stop halts it.
  d.sim.start();
  EXPECT_FALSE(d.sim.debugRegisters(&regs));
  EXPECT_FALSE(d.sim.setBreakpoint(handler, true));
  d.sim.stop();
  EXPECT_TRUE(d.sim.debugRegisters(&regs));
}

INSTANTIATE_TEST_SUITE_P(Engines, SimulatorDebug, ::testing::Values(EngineKind::Own, EngineKind::Unicorn),
                         [](const auto& info) { return std::string(info.param == EngineKind::Own ? "Own" : "Unicorn"); });

}  // namespace
