// The Cortex-M3 core on Unicorn: memory mapping, the cycle count, exception entry and return
// (Unicorn has no NVIC, so stacking is done here), and the reasons a run stops.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine.h"

struct uc_struct;

namespace korvel::sim {

class CortexM3 final : public Engine, private CoreAccess {
 public:
  explicit CortexM3(Bus& bus);
  ~CortexM3() override;
  CortexM3(const CortexM3&) = delete;
  CortexM3& operator=(const CortexM3&) = delete;

  EngineKind kind() const override { return EngineKind::Unicorn; }
  void mapMemory(uint32_t base, uint32_t size, uint8_t* buffer, bool executable) override;
  void mapBus(uint32_t base, uint32_t size) override;
  void routePagesThroughBus(uint32_t base, uint32_t size, uint8_t* buffer, bool throughBus, bool executable) override;
  void invalidateCode(uint32_t base, uint32_t size) override;
  // Instructions that lower the interrupt masks (CPSIE I, MSR PRIMASK/BASEPRI) end the run
  // right after them, so a waiting interrupt is taken at once as on the chip. Found by scanning
  // the code; a false match only ends a run early.
  void codeLoaded(const uint8_t* code, uint32_t size) override;

  void reset(uint32_t sp, uint32_t pc) override;
  RunEnd run(uint64_t untilCycle) override;
  RunEnd step() override;
  // Ends the current run soon (safe from hooks; from other threads only a hint).
  void requestStop() override;
  void exitRequested(int status) override { exitStatus_ = status; exitRequested_ = true; }
  int exitStatus() const override { return exitStatus_; }

  uint64_t cycles() const override { return cycles_.load(std::memory_order_relaxed); }
  void addCycles(uint64_t n) override { cycles_.fetch_add(n, std::memory_order_relaxed); }

  uint32_t currentException() override;
  bool primask() override;
  bool faultmask() override;
  uint32_t basepri() override;
  void enterException(int number, uint32_t vectorTable) override;

  uint32_t pc() override;
  uint32_t reg(int index) override;
  SpecialRegisters special() override;
  void setSpecial(const SpecialRegisters& s) override;
  CoreRegisters registers() override;
  void setRegisters(const CoreRegisters& regs) override;
  std::string registerDump() override;
  const FaultEvent& fault() const override { return fault_ ? *fault_ : noFault_; }
  void clearFault() override { fault_.reset(); }

  void setBreakpoint(uint32_t address, bool on) override;
  void setWatchpoint(uint32_t address, uint32_t length, bool read, bool write, bool on) override;
  uint32_t watchHit() const override { return watchHit_; }

  uc_struct* engine() { return uc_; }
  // Called by the hooks.
  void onBlock(uint64_t address, uint32_t size);
  void onInterrupt(uint32_t number);
  void onMaskLowered(uint32_t address);
  void onUnmapped(uint32_t address, bool write, bool fetch);
  void onDivide(uint32_t address, int divisorRegister);
  void onBreakpoint(uint32_t address);
  struct WatchHook {
    uint32_t address, length;
    bool read, write;
    size_t hook;
    CortexM3* cpu;
  };
  void onWatch(const WatchHook& w, uint32_t address, int size);
  void onInstructionAfterWatch(uint32_t address);

 private:
  void fault(FaultKind kind, const std::string& what, uint32_t address = 0);
  // What run() and step() make of an error Unicorn ends with (a uc_err).
  void faultFromError(int err);
  int afterHint(int err, bool* yielded);
  void stopBefore(uint32_t address);
  uint32_t readWord(uint32_t address) override;
  void writeWord(uint32_t address, uint32_t value) override;
  void setReg(int n, uint32_t value) override;
  void setIpsr(uint32_t ipsr);
  void resumeFrom(uint32_t address);
  void restoreFaultIt();
  void noteStart();
  bool thumbBitClear();
  // PRIMASK, BASEPRI or FAULTMASK (a uc_arm_reg), written first when `write` is given.
  uint32_t maskRegister(int id, const uint32_t* write = nullptr);
  void setXpsr(uint32_t xpsr);

  Bus& bus_;
  uc_struct* uc_ = nullptr;
  std::atomic<uint64_t> cycles_{0};
  uint64_t until_ = 0;
  std::atomic<bool> stop_{false};
  bool sleeping_ = false, exitRequested_ = false, stepping_ = false;
  int exitStatus_ = 0;
  int stepBlocks_ = 0;  // blocks entered during step()
  std::optional<FaultEvent> fault_;
  FaultEvent noFault_;
  std::vector<size_t> maskHooks_;
  std::optional<uint32_t> resumeAt_;  // where a hook stopped the run, before that instruction
  std::optional<uint32_t> faultPc_;  // the instruction a data access fault came from
  std::optional<uint32_t> faultIt_;  // the IT state at that instruction (IT[7:0])
  uint32_t emuStart_ = 0, emuStartIt_ = 0;  // where the emulation started, and the IT state there
  uint32_t watchHit_ = 0;
  // Debugger breakpoints (a code hook each) and watchpoints (a memory hook each): none costs
  // anything while nothing is set.
  std::map<uint32_t, size_t> breakHooks_;
  std::list<WatchHook> watchHooks_;
  uint32_t skipBreakAt_ = 1;  // the instruction a run starts on: its breakpoint lets it run (odd: none)
  bool breakStop_ = false, watchStop_ = false;
  // While watchpoints exist, a code hook on every instruction ends the run right after the one
  // whose access hit (a stop from a memory hook would only take effect at the end of its block).
  size_t watchCodeHook_ = 0;
  std::vector<std::pair<uint32_t, uint32_t>> codeRanges_;
  void dropTranslations();
  bool watchPending_ = false;
  friend struct CortexM3Hooks;
};

}  // namespace korvel::sim
