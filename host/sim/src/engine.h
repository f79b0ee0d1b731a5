// What executes the firmware's instructions. korvel-sim has two engines behind this one
// interface: its own ARMv7-M interpreter and Unicorn (kept as a second engine and as the
// reference the lockstep tests compare against). The simulation loop, the GDB server and the
// tests drive every engine the same way; docs/engine.md says what each side promises.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "exceptions.h"
#include "korvel_sim/engine_kind.h"

namespace korvel::sim {

// What the core asks of the rest of the chip, for every address that is not plain RAM or flash.
class Bus {
 public:
  virtual ~Bus() = default;
  virtual uint32_t busRead(uint32_t address, uint32_t size) = 0;
  virtual void busWrite(uint32_t address, uint32_t value, uint32_t size) = 0;
  // A semihosting call (BKPT 0xAB): operation in r0, parameter in r1; the result goes to r0.
  virtual uint32_t semihost(uint32_t op, uint32_t param) = 0;
};

enum class RunEnd {
  Budget,      // the cycle budget was used up
  Interrupted, // stopped early on request (an interrupt became pending, a reset, a stop)
  Sleeping,    // WFI/WFE: nothing to do until an interrupt
  Fault,       // see fault(): the caller enters the firmware's handler or reports lockup
  Exited,      // the firmware asked to exit through semihosting
  Breakpoint,  // a debugger breakpoint, before its instruction runs (pc() is its address)
  Watchpoint,  // a debugger watchpoint, after the access (watchHit() is the address)
};

// The registers as a debugger lists them (GDB's Cortex-M target description).
struct CoreRegisters {
  uint32_t r[13] = {};
  uint32_t sp = 0, lr = 0, pc = 0, xpsr = 0x01000000;
  uint32_t msp = 0, psp = 0, primask = 0, basepri = 0, faultmask = 0, control = 0;
};


class Engine {
 public:
  virtual ~Engine() = default;
  virtual EngineKind kind() const = 0;

  // Plain memory backed by the caller's buffer, and windows answered by the bus.
  virtual void mapMemory(uint32_t base, uint32_t size, uint8_t* buffer, bool executable) = 0;
  virtual void mapBus(uint32_t base, uint32_t size) = 0;
  // Hands a page range of mapped memory to the bus (to see accesses) or back to plain memory.
  virtual void routePagesThroughBus(uint32_t base, uint32_t size, uint8_t* buffer, bool throughBus, bool executable) = 0;
  // Code memory changed outside the engine (loader, debugger, flash programming).
  virtual void invalidateCode(uint32_t base, uint32_t size) = 0;
  // The firmware was loaded: an engine may scan or pre-decode its code.
  virtual void codeLoaded(const uint8_t* code, uint32_t size) = 0;

  // Asked by the engine: is an interrupt waiting that the present masks let in? When one is,
  // the run ends (Interrupted) at the next instruction boundary so the caller can enter it.
  std::function<bool()> interruptWaiting;
  // CCR.DIV_0_TRP as the firmware set it: SDIV/UDIV by zero then fault (else the result is 0).
  std::function<bool()> divideByZeroTraps;
  // CCR.UNALIGN_TRP: unaligned LDR/STR/LDRH/STRH then fault.
  std::function<bool()> unalignedTraps;
  // An exception handler returned (its number, from IPSR before the return).
  std::function<void(int exception)> onExceptionReturn;
  // SVC: the caller pends SVCall; the run ends so it is taken at once.
  std::function<void()> onSupervisorCall;

  // Core reset: MSP and PC as the vector table gives them, thread mode, masks clear.
  virtual void reset(uint32_t sp, uint32_t pc) = 0;
  // Runs until the cycle count reaches untilCycle or something ends the run early. A run ends
  // only at an instruction boundary; the next one resumes at the next instruction not executed.
  virtual RunEnd run(uint64_t untilCycle) = 0;
  // Exactly one instruction (an IT instruction counts as one).
  virtual RunEnd step() = 0;
  // Ends the current run at the next instruction boundary; safe from any thread.
  virtual void requestStop() = 0;
  virtual void exitRequested(int status) = 0;
  virtual int exitStatus() const = 0;

  virtual uint64_t cycles() const = 0;
  // Time passing without instructions (sleep, hold, no firmware).
  virtual void addCycles(uint64_t n) = 0;

  // Exceptions: the caller (the NVIC model) decides what is taken; the engine stacks and returns.
  virtual uint32_t currentException() = 0;  // IPSR
  virtual bool primask() = 0;
  virtual bool faultmask() = 0;
  virtual uint32_t basepri() = 0;
  virtual void enterException(int number, uint32_t vectorTable) = 0;

  virtual uint32_t pc() = 0;
  virtual uint32_t reg(int index) = 0;  // r0..r15 (r13: the stack pointer in use)
  virtual SpecialRegisters special() = 0;
  virtual void setSpecial(const SpecialRegisters& s) = 0;
  virtual CoreRegisters registers() = 0;
  virtual void setRegisters(const CoreRegisters& regs) = 0;
  virtual std::string registerDump() = 0;

  virtual const FaultEvent& fault() const = 0;
  const std::string& faultText() const { return fault().text; }
  virtual void clearFault() = 0;

  // Debugger breakpoints and watchpoints. A breakpoint ends a run before its instruction
  // executes (a run that starts on one executes it: resuming from a breakpoint goes on); a
  // watchpoint ends it after the access that hit it.
  virtual void setBreakpoint(uint32_t address, bool on) = 0;
  virtual void setWatchpoint(uint32_t address, uint32_t length, bool read, bool write, bool on) = 0;
  virtual uint32_t watchHit() const = 0;
};

// EngineKind::Own unless this build lacks it.
std::unique_ptr<Engine> makeEngine(EngineKind kind, Bus& bus);

}  // namespace korvel::sim
