// ARMv7-M exception entry and return, independent of what executes the instructions: the
// frame on the stack in use, the banked stack pointers (MSP, PSP), CONTROL.SPSEL and the three
// EXC_RETURN values the Cortex-M3 accepts. The core adapter supplies the registers and memory.
#pragma once

#include <cstdint>
#include <string>

namespace korvel::sim {

// The general registers and memory, as exception entry and return see them.
class CoreAccess {
 public:
  virtual ~CoreAccess() = default;
  // r0..r12, r14 (LR) and r15 (PC); the stack pointer lives in SpecialRegisters.
  virtual uint32_t reg(int n) = 0;
  virtual void setReg(int n, uint32_t value) = 0;
  virtual uint32_t readWord(uint32_t address) = 0;
  virtual void writeWord(uint32_t address, uint32_t value) = 0;
};

// The registers whose banking exceptions change. The stack pointer in use (R13) is msp in
// handler mode or with CONTROL.SPSEL clear, psp otherwise.
struct SpecialRegisters {
  uint32_t xpsr = 0x01000000;
  uint32_t control = 0;  // bit 0 nPRIV, bit 1 SPSEL
  uint32_t msp = 0, psp = 0;

  static constexpr uint32_t kSpsel = 2, kNpriv = 1;
  uint32_t ipsr() const { return xpsr & 0x1FF; }
  bool handlerMode() const { return ipsr() != 0; }
  bool usingPsp() const { return !handlerMode() && (control & kSpsel); }
  uint32_t sp() const { return usingPsp() ? psp : msp; }
  void setSp(uint32_t value) { (usingPsp() ? psp : msp) = value; }
};

namespace excreturn {
inline constexpr uint32_t kHandler = 0xFFFFFFF1, kThreadMain = 0xFFFFFFF9, kThreadProcess = 0xFFFFFFFD;
}

// A synchronous fault as the core met it: which condition, and the faulting data address for
// the kinds that record one (BFAR/MMFAR). The stacked PC is the faulting instruction.
enum class FaultKind {
  UndefinedInstruction,  // UsageFault UNDEFINSTR
  InvalidState,          // UsageFault INVSTATE (executing with the Thumb bit clear)
  InvalidPc,             // UsageFault INVPC (a bad EXC_RETURN)
  NoCoprocessor,         // UsageFault NOCP
  Unaligned,             // UsageFault UNALIGNED
  DivideByZero,          // UsageFault DIVBYZERO (CCR.DIV_0_TRP set)
  PreciseBus,            // BusFault PRECISERR, BFAR valid
  InstructionBus,        // BusFault IBUSERR
  InstructionAccess,     // MemManage IACCVIOL (execute-never region)
  Other,                 // anything else the core cannot execute: HardFault
};

struct FaultEvent {
  FaultKind kind = FaultKind::Other;
  uint32_t address = 0;  // for PreciseBus
  std::string text;      // one line for a report
};

// The load or store that touched `address`, searched from `from` (where the engine knows the
// block began) in the Thumb code, with the registers as they are now; `from` when none matches.
// An earlier access through the same base and offset before the base changed would match
// first, which straight-line code that faults rarely does.
uint32_t findFaultingAccess(CoreAccess& core, uint32_t from, const uint32_t regs[16], uint32_t address);

// Stacks r0-r3, r12, LR, the return address (the current PC) and xPSR on the stack in use,
// then enters handler mode on the main stack at `handler` with LR = EXC_RETURN.
void exceptionEntry(CoreAccess& core, SpecialRegisters& special, int number, uint32_t handler);

// Returns from the running exception with EXC_RETURN `excReturn`: unstacks the frame from the
// stack it names and goes back to that mode and stack. Answers the exception that finished;
// for a value the Cortex-M3 does not accept, sets a one-line *error and changes nothing.
int exceptionReturn(CoreAccess& core, SpecialRegisters& special, uint32_t excReturn, std::string* error);

}  // namespace korvel::sim
