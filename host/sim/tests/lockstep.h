// Two execution engines run side by side, one instruction at a time, on identical copies of
// memory, so that any difference in what an instruction does shows at the instruction itself.
// The reference engine's bus answers peripheral reads from a deterministic model; the other
// engine's reads are answered from what the reference was given, so both see the same values
// whatever they ask. After every step the registers, the special registers, the run's end, the
// bus traffic and (when asked) the memory are compared; a difference comes back as a report
// naming the instruction (address, encoding), the state before it and both states after it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine.h"

namespace korvel::sim::lockstep {

// One thing an engine asked of the rest of the chip during a step, in order.
struct BusEvent {
  enum Kind : uint8_t { Read, Write, Semihost, ExceptionReturn, SupervisorCall } kind = Read;
  uint32_t address = 0, value = 0, size = 0;  // Semihost: op, r1; ExceptionReturn: number
  bool operator==(const BusEvent&) const = default;
};
std::string toString(const BusEvent& e);

struct MemoryRegion {
  uint32_t base, size;
  bool executable;
};

struct Options {
  std::vector<MemoryRegion> memory;                       // plain memory, one copy per engine
  std::vector<std::pair<uint32_t, uint32_t>> busWindows;  // base, size: answered by the bus
  EngineKind reference = EngineKind::Unicorn;
  EngineKind other = EngineKind::Own;
  uint64_t modelSeed = 1;  // the peripheral model's values
};

class Side;

class Lockstep {
 public:
  explicit Lockstep(const Options& options);
  ~Lockstep();
  Lockstep(const Lockstep&) = delete;
  Lockstep& operator=(const Lockstep&) = delete;

  Engine& reference();
  Engine& other();
  // Whether the two engines are different kinds (false until this build has its own engine).
  bool differential();

  // Writes the same bytes into both copies and tells both engines their code changed.
  void write(uint32_t address, const void* data, size_t size);
  // The copy of memory one engine sees (0: reference, 1: other); null outside plain memory.
  uint8_t* memory(int side, uint32_t address, size_t size);
  // Both engines scan the code of the region at `base` (the Unicorn adapter hooks SDIV/UDIV).
  void codeLoaded(uint32_t base, uint32_t size);

  void reset(uint32_t sp, uint32_t pc);
  void setRegisters(const CoreRegisters& regs);
  // Divide-by-zero and unaligned traps, as CCR would set them, the same for both.
  void setTraps(bool divideByZero, bool unaligned);

  // One instruction on each engine. Answers "" when they agree, else the report.
  std::string step(bool compareMemory = true);
  // Exception entry on both (as the NVIC would take one), then the same comparison.
  std::string enterException(int number, uint32_t vectorTable);
  // Compares the present states; memory too when asked.
  std::string compare(bool compareMemory);

  // How the last step ended on each side (0: reference, 1: other), and where it began.
  RunEnd lastEnd(int side = 0) const { return lastEnd_[side]; }
  const FaultEvent& lastFault(int side = 0) const { return lastFault_[side]; }
  uint32_t lastPc() const { return lastPc_; }
  // The step just compared called SVC (both engines did, or the comparison failed).
  bool supervisorCalled() const;
  uint64_t steps() const { return steps_; }
  // The encoding at `address` as the reference's memory holds it ("F000 B800", "4770").
  std::string encodingAt(uint32_t address);

 private:
  std::string describeStep(uint32_t pc, const CoreRegisters& before, const std::string& what);
  std::string compareMemory();

  std::unique_ptr<Side> sides_[2];
  RunEnd lastEnd_[2] = {RunEnd::Budget, RunEnd::Budget};
  FaultEvent lastFault_[2];
  uint32_t lastPc_ = 0;
  uint64_t steps_ = 0;
};

// r0..r12, sp, lr, pc, xpsr and the special registers on one line each side, differences marked.
std::string stateDiff(const CoreRegisters& a, const CoreRegisters& b, const char* nameA, const char* nameB);
std::string toString(RunEnd end);

}  // namespace korvel::sim::lockstep
