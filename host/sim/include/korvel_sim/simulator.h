// The LPC17xx simulator behind our AGSI host: the Cortex-M3 core with the chip's memory map and
// the on-chip parts that firmware for this board uses. It is the host's Target: the plug-in's
// register and memory accesses reach the models here, and the firmware's own accesses to watched
// addresses go through the host so the plug-in's watches fire.
//
// Threads: run()/runFor() execute on the calling thread; start() runs a simulation thread of
// its own. Every model is guarded by the host's lock.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "agsi_host/host.h"
#include "korvel_sim/elf_image.h"
#include "korvel_sim/engine_kind.h"

namespace korvel::sim {

// Breakpoint and Watchpoint: a debugger's stop; the run is not over and may go on (start()).
enum class StopReason { None, Exited, Fault, TimeLimit, Requested, Breakpoint, Watchpoint };
const char* toString(StopReason reason);

class Simulator : public agsi_host::Target {
 public:
  // The chip's memories.
  static constexpr uint32_t kFlashBase = 0x00000000, kFlashSize = 512 * 1024;
  static constexpr uint32_t kSramBase = 0x10000000, kSramSize = 32 * 1024;
  static constexpr uint32_t kAhbSramBase = 0x2007C000, kAhbSramSize = 32 * 1024;

  // Registers itself as the host's target; the destructor unregisters it.
  explicit Simulator(agsi_host::Host& host = agsi_host::Host::instance(), EngineKind engine = EngineKind::Own);
  ~Simulator() override;
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Loads the firmware (ELF, Intel HEX or raw binary) into flash and RAM, gives its symbols to
  // the host and resets the chip. False with one line in *error (missing file, a format error,
  // data outside flash/RAM, no vector table at 0); the firmware loaded before stays untouched.
  // Call it while the simulation thread is stopped.
  bool loadFirmware(const std::filesystem::path& file, std::string* error);
  bool hasFirmware() const { return hasFirmware_; }
  // Chip reset: peripherals to their reset values, core from the vector table.
  void resetChip();

  // Text the firmware prints (UART0, semihosting), and fault reports, line by line.
  void setOutput(std::function<void(const std::string& line)> output);
  // Told the first time the firmware reads or writes each register that no model answers for
  // (its word address, and whether it was a write), so a user sees which parts of the chip the
  // firmware expects to work; such registers read their reset value and keep what is written.
  // Runs on the simulation thread under the host's lock; an empty function turns it off.
  void setTraceUnmodelled(std::function<void(uint32_t address, bool write)> trace);
  // Told whenever the levels of a GPIO port's pins (0..4) change, whoever moved them: the
  // firmware's outputs, the board's inputs (PORTn) or a peripheral output; with the pins' levels
  // after the change and the simulated time. Runs under the host's lock on the thread that made
  // the change: it must not call back into the simulator. An empty function turns it off.
  void setPinListener(std::function<void(int port, uint32_t levels, double seconds)> listener);
  // The present levels of a port's pins (0 for a port outside 0..4).
  uint32_t pinLevels(int port);
  // The UARTs 0..3 (UART0 at 0x4000C000 ... UART3 at 0x4009C000). A sink receives each byte the
  // firmware sends on UARTn when its stop bit ends (on the simulation thread, under the host
  // lock: it must not block or call back into the simulator). A sink on UART0 takes its text
  // away from the output lines; an empty function gives it back. Out-of-range n is ignored.
  void setUartSink(int n, std::function<void(uint8_t byte)> sink);
  // Also sees each byte the firmware sends on UARTn (before its sink or the output lines take
  // it), in the same context as a sink; it changes nothing about where the byte goes. The window
  // shows UART0 in a terminal this way while its text stays in the output lines.
  void setUartMonitor(int n, std::function<void(uint8_t byte)> monitor);
  // True once the firmware has written any of UARTn's registers (since the simulator was made).
  bool uartUsed(int n);
  // A byte arriving on UARTn's RXD, from any thread. Bytes wait on the wire and reach the
  // receive FIFO one character time apart at the firmware's baud rate; a firmware that does not
  // read them in time loses them with an overrun, as on the chip. False for n outside 0..3 or
  // when 4096 bytes already wait (try again after some simulated time).
  bool uartInput(int n, uint8_t byte);
  // Pacing: real time (default) or as fast as possible.
  void setRealTime(bool realTime) { realTime_ = realTime; }
  bool realTime() const { return realTime_; }

  // Runs on the calling thread until `seconds` more of simulated time, an exit, a fault or stop().
  StopReason runFor(double seconds);
  // Runs on the calling thread until the simulated time reaches `seconds`.
  StopReason runUntil(double seconds);

  // The simulation thread: start() runs until a stop reason; stop() ends it and waits.
  void start();
  void stop();
  // stop() when the simulation thread runs; false (and nothing done) when it does not.
  bool stopIfRunning();
  bool running() const {
    std::lock_guard control(controlMutex_);
    return thread_.joinable() && !finished_.load();
  }
  // Told (on the simulation thread) when a run ends by itself.
  void setOnStopped(std::function<void(StopReason)> cb) { onStopped_ = std::move(cb); }
  // Told (on the simulation thread, without the host lock) after a reset that the firmware
  // (AIRCR) or the plug-in (AgsiTriggerReset) asked for: the host runs the plug-in's reset code.
  void setOnRequestedReset(std::function<void()> cb) { onRequestedReset_ = std::move(cb); }
  // True while stop() waits for the simulation thread.
  bool stopping() const { return stopRequested_; }
  // Calls fn on the simulation thread, without the host lock, once simulated time reaches `at`.
  // The run does not go on until fn returns (scripted inputs land at their exact time).
  void at(double seconds, std::function<void()> fn);
  // Holds the processor (RESET held down, or the board without power): simulated time, the
  // peripherals' timers and scripted events go on, but no instruction runs and no exception is
  // taken until the hold ends.
  void setHeld(bool held);
  bool held() const { return held_; }
  // Ends the run at this simulated time (headless runs).
  void setTimeLimit(double seconds) { timeLimit_ = seconds; }

  // ---- the debugger ----
  // The debugger works on a stopped simulation (after stop(), a breakpoint or watchpoint, or
  // before start()); the calls below that need it answer false while the simulation thread runs.
  // Registers in the order of GDB's Cortex-M description: r0..r12, sp, lr, pc, xpsr, msp, psp,
  // primask, basepri, faultmask, control.
  static constexpr int kDebugRegisterCount = 23;
  using DebugRegisters = std::array<uint32_t, kDebugRegisterCount>;
  bool debugRegisters(DebugRegisters* out);
  bool setDebugRegisters(const DebugRegisters& regs);
  // Memory as a debugger sees it: peripherals answer as to Access::Debugger, flash is writable,
  // and the plug-in's write watches fire as for an access that is not the simulator's. Reads
  // work while running too; writes to flash need a stopped simulation.
  bool debugRead(uint32_t address, uint32_t size, uint8_t* out);
  bool debugWrite(uint32_t address, uint32_t size, const uint8_t* in);
  // Flash erased to 0xFF (stopped only).
  bool eraseFlash(uint32_t address, uint32_t size);
  // Breakpoints stop a run before the instruction at the address; a run started on one (the
  // debugger going on from it) executes it first. Watchpoints stop it after a data access that
  // touches [address, address + length). Stopped only.
  bool setBreakpoint(uint32_t address, bool on);
  bool setWatchpoint(uint32_t address, uint32_t length, bool read, bool write, bool on);
  void clearDebugPoints();
  uint32_t watchHit() const { return watchHit_; }
  // One instruction on the calling thread (stopped only; pending interrupts wait for the next
  // run, as a debugger stepping through code expects). None, or Exited/Fault when it ended the
  // run, or Requested when the simulation is running or has no firmware.
  StopReason debugStep();
  // Told on the simulation thread each time its run ends, whatever the reason (Requested too).
  void setOnRunEnded(std::function<void(StopReason)> cb) { onRunEnded_ = std::move(cb); }

  StopReason lastStop() const { return lastStop_; }
  std::optional<int> exitStatus() const { return exitStatus_; }
  const std::string& faultReport() const { return faultReport_; }
  uint64_t cycles() const;
  EngineKind engineKind() const;

  // agsi_host::Target
  bool read(uint32_t address, uint32_t size, uint8_t* out) override;
  bool write(uint32_t address, uint32_t size, const uint8_t* in) override;
  void vtrChanged(const std::string& name, uint32_t value) override;
  void triggerReset() override;
  void stopSimulation() override;
  uint64_t states() override { return cycles(); }
  double seconds() override;
  uint32_t programCounter() override;
  bool sleeping() override { return sleeping_; }
  uint32_t clockHz() override;

  struct Chip;  // the models; defined in simulator.cpp

 private:
  friend struct Chip;
  StopReason runLoop(uint64_t untilCycle);
  // What a run's end means for the loop (fault entry or report, exit, sleep, debugger stops).
  StopReason afterRun(int end);
  void flushLines(StopReason reason);
  void line(const std::string& text);
  // Ends a real-time sleep of the simulation thread (the firmware in WFI) early: something that
  // may wake the firmware or end the run happened on another thread.
  void wakeSleeper();

  agsi_host::Host& host_;
  std::unique_ptr<Chip> chip_;
  bool hasFirmware_ = false;
  std::atomic<bool> realTime_{true};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> resetRequested_{false};
  std::atomic<bool> sleeping_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> held_{false};
  double timeLimit_ = -1;
  StopReason lastStop_ = StopReason::None;
  std::optional<int> exitStatus_;
  std::string faultReport_;
  std::function<void(const std::string&)> output_;
  std::function<void(StopReason)> onStopped_;
  std::function<void()> onRequestedReset_;
  std::function<void(StopReason)> onRunEnded_;
  // Serialises start/stop and the debugger's calls, which come from the UI and server threads.
  mutable std::recursive_mutex controlMutex_;
  std::set<uint32_t> breakpoints_;  // changed only while stopped
  struct DebugWatch {
    uint32_t address, length;
    bool read, write;
  };
  std::vector<DebugWatch> watchpoints_;
  uint32_t watchHit_ = 0;
  std::thread thread_;
  std::mutex sleepMutex_;
  std::condition_variable sleepWake_;
  bool wakeRequested_ = false;  // guarded by sleepMutex_
};

}  // namespace korvel::sim
