// korvel-sim's own ARMv7-M engine for the Cortex-M3: an interpreter over pre-decoded
// instructions. Each instruction is decoded once into an Op (a handler and its operands) kept in
// a direct-mapped cache indexed by its address; writes to code (the loader, the debugger, a
// store into RAM that holds decoded code) invalidate it. RAM and flash are reached through a
// page table of direct pointers; every other address is one Bus call.
//
// The work is split in three files that share this header:
//   core.cpp    the run loop, memory, exceptions, faults, the Engine interface, cycles;
//   thumb16.cpp decode16(): every 16-bit Thumb encoding and its handlers;
//   thumb32.cpp decode32(): every 32-bit Thumb-2 encoding the Cortex-M3 implements.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../engine.h"

namespace korvel::sim::armv7m {

class Core;
struct Op;
// Executes one decoded instruction. On entry core.pc_ is the instruction's address and
// core.next_ the address after it; a handler that branches sets next_ (through branchTo /
// bxWritePc / loadWritePc). A handler that faults calls core.fault(...) and returns; the loop
// then leaves PC at the faulting instruction.
using Handler = void (*)(Core& core, const Op& op);

struct Op {
  Handler fn = nullptr;
  uint32_t imm = 0;                    // immediate, offset, branch target or register list
  uint8_t rd = 0, rn = 0, rm = 0, ra = 0;  // register numbers (ra: accumulate / second dest)
  uint8_t shiftType = 0, shiftN = 0;   // shifted-register operand (SRType, amount)
  uint8_t flags = 0;                   // handler-specific bits (kSetFlags, kAdd, kIndex, ...)
  uint8_t len = 2;                     // 2 or 4 bytes
  uint8_t cond = 14;                   // condition of B<c> (14: always)
  uint8_t cycles = 1;                  // base cycles from the cycle model (see README)
  uint32_t raw = 0;                    // the encoding: hw1 | hw2 << 16 (traces, fault text)
  uint32_t tag = 1;                    // the decode cache's: the address decoded (odd: none)
};
static_assert(sizeof(Op) <= 32, "a decoded instruction fills half a cache line at most");

// Op::flags bits most handlers share; a handler may give other bits its own meaning.
inline constexpr uint8_t kSetFlags = 1;        // the S bit
inline constexpr uint8_t kSetFlagsOutsideIt = 2;  // 16-bit forms: set flags only outside an IT block
inline constexpr uint8_t kAdd = 4;             // U: add the offset (else subtract)
inline constexpr uint8_t kIndex = 8;           // P: offset addressing (else post-indexed)
inline constexpr uint8_t kWriteBack = 16;      // W

enum Shift : uint8_t { kLsl = 0, kLsr = 1, kAsr = 2, kRor = 3, kRrx = 4 };

// Fills op for the 16-bit instruction hw at address pc; false (op.fn = undefined) if unallocated.
bool decode16(uint16_t hw, uint32_t pc, Op& op);
// Fills op for the 32-bit instruction hw1:hw2 at address pc; false if the M3 does not have it.
bool decode32(uint16_t hw1, uint16_t hw2, uint32_t pc, Op& op);
// The handler of an encoding the Cortex-M3 does not implement: UsageFault UNDEFINSTR.
void undefined(Core& core, const Op& op);
// True for the first halfword of a 32-bit encoding.
inline bool isThumb32(uint16_t hw) { return (hw & 0xE000) == 0xE000 && (hw & 0x1800) != 0; }

// ---- the architecture's pseudo-code helpers (ARM ARM v7-M A2.2, A5.3) ----
struct ResultCarry { uint32_t value; bool carry; };
struct AddResult { uint32_t value; bool carry, overflow; };

// In 32-bit arithmetic (no widening): it runs for every ADDS/SUBS/CMP.
inline AddResult addWithCarry(uint32_t x, uint32_t y, bool carryIn) {
  uint32_t r = x + y + uint32_t(carryIn);
  bool carry = carryIn ? r <= x : r < x;
  bool overflow = ((~(x ^ y) & (x ^ r)) >> 31) != 0;  // same-signed operands, result differs
  return {r, carry, overflow};
}

// Shift_C: amount 0 leaves the value and the carry; LSR/ASR by 32 are valid (decoded imm 0).
inline ResultCarry shiftC(uint32_t value, uint8_t type, uint32_t amount, bool carryIn) {
  if (type == kRrx) return {(value >> 1) | (carryIn ? 0x80000000u : 0), (value & 1) != 0};
  if (amount == 0) return {value, carryIn};
  switch (type) {
    case kLsl:
      if (amount < 32) return {value << amount, ((value >> (32 - amount)) & 1) != 0};
      return {0, amount == 32 ? (value & 1) != 0 : false};
    case kLsr:
      if (amount < 32) return {value >> amount, ((value >> (amount - 1)) & 1) != 0};
      return {0, amount == 32 ? (value >> 31) != 0 : false};
    case kAsr:
      if (amount < 32) return {uint32_t(int32_t(value) >> amount), ((int32_t(value) >> (amount - 1)) & 1) != 0};
      return {(value >> 31) ? 0xFFFFFFFFu : 0u, (value >> 31) != 0};
    default: {  // ROR
      uint32_t n = amount & 31;
      uint32_t r = n ? (value >> n) | (value << (32 - n)) : value;
      return {r, (r >> 31) != 0};
    }
  }
}

// DecodeImmShift: (type, imm5) of an immediate shift as Shift_C wants them.
inline void decodeImmShift(uint32_t type, uint32_t imm5, uint8_t& outType, uint8_t& outN) {
  switch (type & 3) {
    case 0: outType = kLsl, outN = uint8_t(imm5); break;
    case 1: outType = kLsr, outN = uint8_t(imm5 ? imm5 : 32); break;
    case 2: outType = kAsr, outN = uint8_t(imm5 ? imm5 : 32); break;
    default:
      if (imm5 == 0) outType = kRrx, outN = 1;
      else outType = kRor, outN = uint8_t(imm5);
  }
}

// ThumbExpandImm_C for the 12-bit modified immediate i:imm3:imm8.
inline ResultCarry thumbExpandImmC(uint32_t imm12, bool carryIn) {
  if ((imm12 >> 10) == 0) {
    uint32_t b = imm12 & 0xFF;
    switch ((imm12 >> 8) & 3) {
      case 0: return {b, carryIn};
      case 1: return {b | (b << 16), carryIn};
      case 2: return {(b << 8) | (b << 24), carryIn};
      default: return {b | (b << 8) | (b << 16) | (b << 24), carryIn};
    }
  }
  uint32_t unrot = 0x80 | (imm12 & 0x7F), n = (imm12 >> 7) & 31;
  uint32_t r = (unrot >> n) | (unrot << (32 - n));
  return {r, (r >> 31) != 0};
}

class Core final : public Engine {
 public:
  explicit Core(Bus& bus);
  ~Core() override;

  // ---- Engine ----
  EngineKind kind() const override { return EngineKind::Own; }
  void mapMemory(uint32_t base, uint32_t size, uint8_t* buffer, bool executable) override;
  void mapBus(uint32_t base, uint32_t size) override;
  void routePagesThroughBus(uint32_t base, uint32_t size, uint8_t* buffer, bool throughBus, bool executable) override;
  void invalidateCode(uint32_t base, uint32_t size) override;
  void codeLoaded(const uint8_t* code, uint32_t size) override;
  void reset(uint32_t sp, uint32_t pc) override;
  RunEnd run(uint64_t untilCycle) override;
  RunEnd step() override;
  void requestStop() override;
  void exitRequested(int status) override;
  int exitStatus() const override;
  uint64_t cycles() const override;
  void addCycles(uint64_t n) override;
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
  const FaultEvent& fault() const override;
  void clearFault() override;
  void setBreakpoint(uint32_t address, bool on) override;
  void setWatchpoint(uint32_t address, uint32_t length, bool read, bool write, bool on) override;
  uint32_t watchHit() const override;

  // ---- for the handlers (thumb16.cpp, thumb32.cpp) ----
  // r_[15] is not kept up to date: read the PC as an operand with pcOperand() (the
  // instruction's address + 4) and Align(PC, 4) with pcAligned().
  uint32_t r_[16] = {};
  bool n_ = false, z_ = false, c_ = false, v_ = false, q_ = false;
  uint8_t itState_ = 0;  // ITSTATE (IT[7:0]); 0 outside an IT block
  bool thumb_ = true;    // EPSR.T: cleared by an interworking branch to an even address
  uint32_t pc_ = 0;      // the executing instruction's address
  uint32_t next_ = 0;    // where execution goes on after it

  uint32_t pcOperand() const { return pc_ + 4; }
  uint32_t pcAligned() const { return (pc_ + 4) & ~3u; }
  uint32_t get(int n) const { return n == 15 ? pcOperand() : r_[n]; }
  bool inItBlock() const { return (itState_ & 0xF) != 0; }
  bool lastInItBlock() const { return (itState_ & 0xF) == 0x8; }
  bool conditionPassed(uint32_t cond) const {
    bool r;
    switch (cond >> 1) {
      case 0: r = z_; break;
      case 1: r = c_; break;
      case 2: r = n_; break;
      case 3: r = v_; break;
      case 4: r = c_ && !z_; break;
      case 5: r = n_ == v_; break;
      case 6: r = !z_ && n_ == v_; break;
      default: return true;
    }
    return (cond & 1) ? !r : r;
  }
  void setNz(uint32_t result) { n_ = (result >> 31) != 0, z_ = result == 0; }
  bool setFlagsFor(const Op& op) const {
    return (op.flags & kSetFlags) || ((op.flags & kSetFlagsOutsideIt) && !inItBlock());
  }
  // Register-or-shifted-register operand with carry (DecodeImmShift already applied).
  ResultCarry shifted(uint32_t value, const Op& op) const { return shiftC(value, op.shiftType, op.shiftN, c_); }

  // Writes to the PC (ARM ARM A2.3.1): branchTo for B/CBZ, bxWritePc for BX/BLX (interworking,
  // EXC_RETURN in handler mode), loadWritePc for LDR/POP/LDM (same as BX on v7-M), aluWritePc for
  // ADD/MOV to PC (no interworking). The handler adds the pipeline refill of a taken branch
  // (kBranchRefill cycles) with addExtraCycles.
  // They raise kEvBranch: the run loop then takes next_, else it goes on at pc_ + op.len
  // without waiting for next_ to come back from memory.
  static constexpr uint32_t kBranchRefill = 2;
  void branchTo(uint32_t address) { next_ = address & ~1u, events_ |= kEvBranch; }
  void bxWritePc(uint32_t address);
  void loadWritePc(uint32_t address) { bxWritePc(address); }
  void aluWritePc(uint32_t address) { next_ = address & ~1u, events_ |= kEvBranch; }
  void writeReg(int n, uint32_t value) {  // R[n] = value, with the PC handled as ALUWritePC
    if (n == 15) aluWritePc(value);
    else r_[n] = value;
  }

  // Memory as the instructions see it. Unaligned word/halfword accesses are done as the M3
  // does (byte by byte unless CCR.UNALIGN_TRP); a fault sets fault state and answers 0 / false,
  // and the handler must return at once (check faulted()). The cycles of an access are in the
  // instruction's base count (LDR 2) or added by its handler (LDM 1+N): see the cycle model.
  // Aligned RAM and flash accesses take the inline fast path; the rest goes to slowRead/Write.
  uint32_t read8(uint32_t address) { return fastRead<uint8_t>(address); }
  uint32_t read16(uint32_t address) { return fastRead<uint16_t>(address); }
  uint32_t read32(uint32_t address) { return fastRead<uint32_t>(address); }
  void write8(uint32_t address, uint32_t value) { fastWrite<uint8_t>(address, value); }
  void write16(uint32_t address, uint32_t value) { fastWrite<uint16_t>(address, value); }
  void write32(uint32_t address, uint32_t value) { fastWrite<uint32_t>(address, value); }
  // LDM/STM/PUSH/POP/LDRD/STRD/LDREX/STREX want aligned words: unaligned is a UsageFault.
  uint32_t read32Aligned(uint32_t address);
  void write32Aligned(uint32_t address, uint32_t value);
  bool faulted() const { return fault_.has_value(); }
  void fault(FaultKind kind, const std::string& what, uint32_t address = 0);

  // Exclusive monitor (LDREX/STREX/CLREX): one address, cleared by exception entry and return.
  bool exclusiveOpen_ = false;
  uint32_t exclusiveAddress_ = 0;

  // Special registers: MSR/MRS/CPS, the banked stack pointers.
  uint32_t primask_ = 0, faultmask_ = 0, basepri_ = 0, control_ = 0, msp_ = 0, psp_ = 0, ipsr_ = 0;
  uint32_t mrs(uint32_t sysm);
  void msr(uint32_t sysm, uint32_t value, uint32_t mask);
  void cps(bool disable, bool affectI, bool affectF);
  // Instructions that end the run after them: WFI/WFE (sleep), SVC, BKPT (semihosting), a
  // lowered mask while an interrupt waits.
  void wfi();
  void svc(uint32_t imm);
  void bkpt(uint32_t imm);
  // Extra cycles an instruction costs beyond op.cycles (a taken branch refill, the length of a
  // divide, a load's wait): added by handlers.
  void addExtraCycles(uint32_t n) { extra_ += n, events_ |= kEvCycles; }
  bool divideByZeroTrapOn();
  bool unalignedTrapOn();

  // What ended an instruction early or must be looked at after it (handlers set these through
  // the functions above; the run loop looks only when one is set).
  enum Event : uint32_t {
    kEvBranch = 1, kEvCycles = 2, kEvFault = 4, kEvSleep = 8, kEvEndAfter = 16, kEvExit = 32,
    kEvExcReturn = 64, kEvInvState = 128, kEvBreak = 256, kEvWatch = 512,
    kEvIt = 1024,    // IT set ITSTATE: the loop keeps a copy in a register
    kEvStop = 2048,  // the bus (a pending interrupt, a watchdog reset) asked the run to stop
  };
  // The loop looks at stop_ only after events: a bus call that asked for a stop (synchronously,
  // from this thread) raises one so the run ends after its instruction, as before any other.
  void noteStopRequest() {
    if (stop_.load(std::memory_order_relaxed)) events_ |= kEvStop;
  }
  uint32_t events_ = 0;

 private:
  template <typename T>
  uint32_t fastRead(uint32_t address) {
    uintptr_t base = readPage_[address >> kPageBits];
    if (base && (address & (sizeof(T) - 1)) == 0) [[likely]] {
      T v;
      std::memcpy(&v, reinterpret_cast<const void*>(base + address), sizeof(T));
      return v;
    }
    return slowRead(address, sizeof(T));
  }
  template <typename T>
  void fastWrite(uint32_t address, uint32_t value) {
    uintptr_t base = writePage_[address >> kPageBits];
    if (base && (address & (sizeof(T) - 1)) == 0) [[likely]] {
      T v = T(value);
      std::memcpy(reinterpret_cast<void*>(base + address), &v, sizeof(T));
      return;
    }
    slowWrite(address, value, sizeof(T));
  }
  uint32_t slowRead(uint32_t address, uint32_t size);
  void slowWrite(uint32_t address, uint32_t value, uint32_t size);
  template <bool kSingle>
  RunEnd loop(uint64_t until);
  bool finishEvents(const Op& op, bool inIt, RunEnd& end);
  RunEnd invalidState();

 public:
  static constexpr uint32_t kPageBits = 12;  // 4 KiB: the granule RAM pages are routed in

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  Bus& bus_;
  // Per page: host address minus guest address of plain memory the fast path may use, or 0
  // (the bus, a watchpoint, decoded code for writes, nothing mapped). Owned by impl_.
  uintptr_t* readPage_ = nullptr;
  uintptr_t* writePage_ = nullptr;
  // The cycle count at the start of the executing instruction (the run loop keeps its own
  // copy in a register and stores it here before each one), and the extra cycles handlers
  // added so far; now_ + extra_ is published to cycles_ whenever anything outside looks.
  uint64_t now_ = 0;
  uint64_t extra_ = 0;
  std::atomic<uint64_t> cycles_{0};
  std::atomic<bool> stop_{false};
  uint64_t until_ = 0;
  std::optional<FaultEvent> fault_;
  friend struct Impl;
  friend void breakpointMarker(Core& core, const Op& op);
};

}  // namespace korvel::sim::armv7m
