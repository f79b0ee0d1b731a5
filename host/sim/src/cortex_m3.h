// The Cortex-M3 core on Unicorn: memory mapping, the cycle count, exception entry and return
// (Unicorn has no NVIC, so stacking is done here), and the reasons a run stops.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "exceptions.h"

struct uc_struct;

namespace korvel::sim {

// What the core asks of the rest of the chip.
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
};

class CortexM3 : private CoreAccess {
 public:
  explicit CortexM3(Bus& bus);
  ~CortexM3();
  CortexM3(const CortexM3&) = delete;
  CortexM3& operator=(const CortexM3&) = delete;

  // Plain memory backed by the caller's buffer, and windows answered by the bus.
  void mapMemory(uint32_t base, uint32_t size, uint8_t* buffer, bool executable);
  void mapBus(uint32_t base, uint32_t size);
  // Hands a page range of mapped memory to the bus (to see accesses) or back to plain memory.
  void routePagesThroughBus(uint32_t base, uint32_t size, uint8_t* buffer, bool throughBus, bool executable);

  // Instructions that lower the interrupt masks (CPSIE I, MSR PRIMASK/BASEPRI) end the run
  // right after them, so a waiting interrupt is taken at once as on the chip. Found by scanning
  // the code; a false match only ends a run early.
  void watchMaskChanges(const uint8_t* code, uint32_t size);
  std::function<bool()> interruptWaiting;
  // CCR.DIV_0_TRP as the firmware set it: SDIV/UDIV by zero then fault (the engine gives 0).
  std::function<bool()> divideByZeroTraps;

  // Core reset: MSP and PC from the vector table, thread mode, masks clear.
  void reset(uint32_t sp, uint32_t pc);
  RunEnd run(uint64_t untilCycle);
  // Ends the current run soon (safe from hooks; from other threads only a hint).
  void requestStop();
  void exitRequested(int status) { exitStatus_ = status; exitRequested_ = true; }

  uint64_t cycles() const { return cycles_.load(std::memory_order_relaxed); }
  void addCycles(uint64_t n) { cycles_.fetch_add(n, std::memory_order_relaxed); }
  uint64_t instructions() const { return cycles(); }

  // Exceptions.
  uint32_t currentException();  // IPSR
  bool primask();
  bool faultmask();
  uint32_t basepri();
  void enterException(int number, uint32_t vectorTable);
  // Returns the exception that finished (from IPSR) through the callback set here.
  std::function<void(int exception)> onExceptionReturn;
  std::function<void()> onSupervisorCall;

  uint32_t pc();
  uint32_t reg(int index) override;  // r0..r15 (r13: the stack pointer in use)
  // MSP, PSP, CONTROL and xPSR as the architecture banks them.
  SpecialRegisters special();
  void setSpecial(const SpecialRegisters& s);
  std::string registerDump();
  const FaultEvent& fault() const { return fault_ ? *fault_ : noFault_; }
  const std::string& faultText() const { return fault().text; }
  void clearFault() { fault_.reset(); }
  int exitStatus() const { return exitStatus_; }

  uc_struct* engine() { return uc_; }
  // Called by the hooks.
  void onBlock(uint64_t address, uint32_t size);
  void onInterrupt(uint32_t number);
  void onMaskLowered(uint32_t address);
  void onUnmapped(uint32_t address, bool write, bool fetch);
  void onDivide(uint32_t address, int divisorRegister);

 private:
  void fault(FaultKind kind, const std::string& what, uint32_t address = 0);
  void stopBefore(uint32_t address);
  uint32_t readWord(uint32_t address) override;
  void writeWord(uint32_t address, uint32_t value) override;
  void setReg(int n, uint32_t value) override;
  void setIpsr(uint32_t ipsr);
  void setXpsr(uint32_t xpsr);

  Bus& bus_;
  uc_struct* uc_ = nullptr;
  std::atomic<uint64_t> cycles_{0};
  uint64_t until_ = 0;
  std::atomic<bool> stop_{false};
  bool sleeping_ = false, exitRequested_ = false;
  int exitStatus_ = 0;
  std::optional<FaultEvent> fault_;
  FaultEvent noFault_;
  std::vector<size_t> maskHooks_;
  std::optional<uint32_t> resumeAt_;
  std::optional<uint32_t> faultPc_;   // the instruction a data access fault came from  // where a hook stopped the run, before that instruction
  friend struct CortexM3Hooks;
};

}  // namespace korvel::sim
