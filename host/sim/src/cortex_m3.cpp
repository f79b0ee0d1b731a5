#include "cortex_m3.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

namespace korvel::sim {

namespace {

// QEMU's exception numbers as Unicorn reports them to the interrupt hook.
enum : uint32_t {
  kExcpUdef = 1, kExcpSwi = 2, kExcpPrefetchAbort = 3, kExcpDataAbort = 4, kExcpBkpt = 7, kExcpExceptionExit = 8,
  kExcpNoCp = 17, kExcpInvState = 18, kExcpUnaligned = 22, kExcpDivByZero = 23, kExcpHlt = 0x10001
};
// The default memory map's execute-never region (peripherals and system space).
constexpr uint32_t kExecuteNeverFrom = 0xE0000000;
constexpr uint16_t kSemihostingBkpt = 0xBEAB, kWfi = 0xBF30, kWfe = 0xBF20, kYield = 0xBF10;

struct Window {
  CortexM3* cpu;
  Bus* bus;
  uint32_t base;
};
// Windows live as long as the process's engines; Unicorn keeps raw pointers to them.
std::vector<std::unique_ptr<Window>>& windows() {
  static std::vector<std::unique_ptr<Window>> w;
  return w;
}

uint64_t mmioRead(uc_engine*, uint64_t offset, unsigned size, void* user) {
  auto* w = static_cast<Window*>(user);
  return w->bus->busRead(w->base + uint32_t(offset), size);
}
void mmioWrite(uc_engine*, uint64_t offset, unsigned size, uint64_t value, void* user) {
  auto* w = static_cast<Window*>(user);
  w->bus->busWrite(w->base + uint32_t(offset), uint32_t(value), size);
}
void blockHook(uc_engine*, uint64_t address, uint32_t size, void* user) {
  static_cast<CortexM3*>(user)->onBlock(address, size);
}
void breakpointHook(uc_engine*, uint64_t address, uint32_t, void* user) {
  static_cast<CortexM3*>(user)->onBreakpoint(uint32_t(address));
}
void afterWatchHook(uc_engine*, uint64_t address, uint32_t, void* user) {
  static_cast<CortexM3*>(user)->onInstructionAfterWatch(uint32_t(address));
}
void watchHook(uc_engine*, uc_mem_type, uint64_t address, int size, int64_t, void* user) {
  auto* w = static_cast<CortexM3::WatchHook*>(user);
  w->cpu->onWatch(*w, uint32_t(address), size);
}
void interruptHook(uc_engine*, uint32_t number, void* user) { static_cast<CortexM3*>(user)->onInterrupt(number); }

void maskHook(uc_engine*, uint64_t address, uint32_t, void* user) {
  static_cast<CortexM3*>(user)->onMaskLowered(uint32_t(address));
}
void divideHook(uc_engine* uc, uint64_t address, uint32_t, void* user) {
  uint16_t second = 0;
  uc_mem_read(uc, address + 2, &second, 2);
  static_cast<CortexM3*>(user)->onDivide(uint32_t(address), second & 0xF);
}
bool unmappedHook(uc_engine*, uc_mem_type type, uint64_t address, int, int64_t, void* user) {
  static_cast<CortexM3*>(user)->onUnmapped(uint32_t(address), type == UC_MEM_WRITE_UNMAPPED,
                                            type == UC_MEM_FETCH_UNMAPPED);
  return false;  // not handled: the run ends with the error
}

void check(uc_err err, const char* what) {
  if (err != UC_ERR_OK) throw std::runtime_error(std::string(what) + ": " + uc_strerror(err));
}

}  // namespace

CortexM3::CortexM3(Bus& bus) : bus_(bus) {
  // UC_MODE_MCLASS always makes a Cortex-M33; thumb mode with the M3 model is the real part.
  check(uc_open(UC_ARCH_ARM, UC_MODE_THUMB, &uc_), "uc_open");
  check(uc_ctl_set_cpu_model(uc_, UC_CPU_ARM_CORTEX_M3), "cpu model");
  uc_hook h;
  check(uc_hook_add(uc_, &h, UC_HOOK_BLOCK, reinterpret_cast<void*>(blockHook), this, 1, 0), "block hook");
  check(uc_hook_add(uc_, &h, UC_HOOK_INTR, reinterpret_cast<void*>(interruptHook), this, 1, 0), "interrupt hook");
  check(uc_hook_add(uc_, &h, UC_HOOK_MEM_UNMAPPED, reinterpret_cast<void*>(unmappedHook), this, 1, 0), "unmapped hook");

}

void CortexM3::codeLoaded(const uint8_t* code, uint32_t size) {
  for (size_t h : maskHooks_) uc_hook_del(uc_, uc_hook(h));
  maskHooks_.clear();
  auto half = [&](uint32_t a) { return uint16_t(code[a] | code[a + 1] << 8); };
  for (uint32_t a = 0; a + 4 <= size; a += 2) {
    // SDIV/UDIV: looked at before they run, for CCR.DIV_0_TRP.
    if (((half(a) & 0xFFF0) == 0xFB90 || (half(a) & 0xFFF0) == 0xFBB0) && (half(a + 2) & 0xF0F0) == 0xF0F0) {
      uc_hook h;
      if (uc_hook_add(uc_, &h, UC_HOOK_CODE, reinterpret_cast<void*>(divideHook), this, a, a) == UC_ERR_OK)
        maskHooks_.push_back(size_t(h));
      continue;
    }
    uint32_t next = 0;
    if (half(a) == 0xB662) next = a + 2;  // CPSIE I
    // MSR PRIMASK/BASEPRI/BASEPRI_MAX, Rn
    else if ((half(a) & 0xFFF0) == 0xF380 && (half(a + 2) & 0xFFFC) == 0x8810) next = a + 4;
    if (!next) continue;
    uc_hook h;
    if (uc_hook_add(uc_, &h, UC_HOOK_CODE, reinterpret_cast<void*>(maskHook), this, next, next) == UC_ERR_OK)
      maskHooks_.push_back(size_t(h));
  }
}

void CortexM3::onMaskLowered(uint32_t address) {
  if (interruptWaiting && interruptWaiting()) {
    stop_.store(true, std::memory_order_relaxed);
    stopBefore(address);
  }
}

void CortexM3::onUnmapped(uint32_t address, bool write, bool fetch) {
  char b[80];
  std::snprintf(b, sizeof b, "%s unmapped address 0x%08X", fetch ? "instruction fetch from" : write ? "write to" : "read from", address);
  if (fault_) return;
  // The engine leaves the PC at the start of the translated block, before instructions that
  // did run; the fault's frame must hold the faulting instruction itself.
  if (!fetch) {
    uint32_t regs[16];
    for (int r = 0; r < 16; ++r) regs[r] = reg(r);
    uint32_t blockStart = pc() & ~1u;
    faultPc_ = findFaultingAccess(*this, blockStart, regs, address);
    // Unicorn loses the IT state on this fault: rebuild it at the faulting instruction from the
    // state where the block began (its IT bits read 0 inside a block, so for the block the
    // emulation started with, the state before the start), so the handler's frame holds it
    // and the return resumes the IT block.
    uint32_t xpsr = 0;
    uc_reg_read(uc_, UC_ARM_REG_XPSR, &xpsr);
    uint32_t it = blockStart == emuStart_ ? emuStartIt_ : ((xpsr >> 8) & 0xFC) | ((xpsr >> 25) & 3);
    for (uint32_t a = blockStart; a < *faultPc_;) {
      uint16_t h = 0;
      uc_mem_read(uc_, a, &h, 2);
      if ((h & 0xFF00) == 0xBF00 && (h & 0xF)) it = h & 0xFF;            // IT
      else if (it & 7) it = (it & 0xE0) | ((it << 1) & 0x1F);            // ITAdvance
      else it = 0;
      a += ((h & 0xE000) == 0xE000 && (h & 0x1800)) ? 4 : 2;
    }
    faultIt_ = it;
  }
  if (!fetch) fault_ = FaultEvent{FaultKind::PreciseBus, address, b};
  else fault_ = FaultEvent{address >= kExecuteNeverFrom ? FaultKind::InstructionAccess : FaultKind::InstructionBus, address, b};
}

void CortexM3::onDivide(uint32_t address, int divisorRegister) {
  if (!divideByZeroTraps || reg(divisorRegister) != 0 || !divideByZeroTraps()) return;
  if (!fault_) fault_ = FaultEvent{FaultKind::DivideByZero, 0, "divide by zero"};
  stopBefore(address);
}

CortexM3::~CortexM3() {
  if (uc_) uc_close(uc_);
}

void CortexM3::mapMemory(uint32_t base, uint32_t size, uint8_t* buffer, bool executable) {
  if (executable) {
    bool known = false;
    for (const auto& r : codeRanges_) known |= r.first == base;
    if (!known) codeRanges_.emplace_back(base, size);
  }
  uint32_t perms = UC_PROT_READ | UC_PROT_WRITE | (executable ? UC_PROT_EXEC : 0);
  check(uc_mem_map_ptr(uc_, base, size, perms, buffer), "map memory");
}

void CortexM3::mapBus(uint32_t base, uint32_t size) {
  windows().push_back(std::make_unique<Window>(Window{this, &bus_, base}));
  Window* w = windows().back().get();
  check(uc_mmio_map(uc_, base, size, mmioRead, w, mmioWrite, w), "map peripherals");
}

void CortexM3::routePagesThroughBus(uint32_t base, uint32_t size, uint8_t* buffer, bool throughBus,
                                    bool executable) {
  check(uc_mem_unmap(uc_, base, size), "unmap page");
  if (throughBus) mapBus(base, size);
  else mapMemory(base, size, buffer, executable);
}

void CortexM3::reset(uint32_t sp, uint32_t pc) {
  uint32_t zero = 0;
  for (int r = UC_ARM_REG_R0; r <= UC_ARM_REG_R12; ++r) uc_reg_write(uc_, r, &zero);
  uc_reg_write(uc_, UC_ARM_REG_PRIMASK, &zero);
  uc_reg_write(uc_, UC_ARM_REG_BASEPRI, &zero);
  uc_reg_write(uc_, UC_ARM_REG_FAULTMASK, &zero);
  SpecialRegisters s;  // privileged thread mode on the main stack, Thumb
  s.msp = sp;
  setSpecial(s);
  uint32_t lr = 0xFFFFFFFF;
  uc_reg_write(uc_, UC_ARM_REG_LR, &lr);
  uint32_t p = pc | 1;
  uc_reg_write(uc_, UC_ARM_REG_PC, &p);
  sleeping_ = exitRequested_ = false;
  fault_.reset();
}

void CortexM3::setXpsr(uint32_t xpsr) {
  // The translator caches the mode; writing the flags once more makes it look again.
  uint32_t nzcv = xpsr & 0xF8000000;
  uc_reg_write(uc_, UC_ARM_REG_XPSR, &xpsr);
  uc_reg_write(uc_, UC_ARM_REG_APSR_NZCV, &nzcv);
}

uint32_t CortexM3::readWord(uint32_t address) {
  uint32_t v = 0;
  if (uc_mem_read(uc_, address, &v, 4) != UC_ERR_OK) v = bus_.busRead(address, 4);
  return v;
}

void CortexM3::writeWord(uint32_t address, uint32_t value) {
  if (uc_mem_write(uc_, address, &value, 4) != UC_ERR_OK) bus_.busWrite(address, value, 4);
}

uint32_t CortexM3::pc() {
  uint32_t v = 0;
  uc_reg_read(uc_, UC_ARM_REG_PC, &v);
  return v;
}

uint32_t CortexM3::reg(int index) {
  uint32_t v = 0;
  int id = index <= 12 ? UC_ARM_REG_R0 + index : index == 13 ? UC_ARM_REG_SP : index == 14 ? UC_ARM_REG_LR : UC_ARM_REG_PC;
  uc_reg_read(uc_, id, &v);
  return v;
}

uint32_t CortexM3::currentException() {
  uint32_t v = 0;
  uc_reg_read(uc_, UC_ARM_REG_IPSR, &v);
  return v & 0x1FF;
}

// Unicorn reads PRIMASK, BASEPRI and FAULTMASK as the MRS instruction does: zero from
// unprivileged thread mode, where MSR also ignores writes. The NVIC and the debugger need the
// real values whatever mode the firmware is in: look (and write) from handler mode.
uint32_t CortexM3::maskRegister(int id, const uint32_t* write) {
  uint32_t xpsr = 0, control = 0, v = 0;
  uc_reg_read(uc_, UC_ARM_REG_XPSR, &xpsr);
  uc_reg_read(uc_, UC_ARM_REG_CONTROL, &control);
  bool unprivileged = (xpsr & 0x1FF) == 0 && (control & SpecialRegisters::kNpriv);
  if (unprivileged) setIpsr(1);
  if (write) uc_reg_write(uc_, id, write);
  uc_reg_read(uc_, id, &v);
  if (unprivileged) setIpsr(0);
  return v;
}

bool CortexM3::primask() { return maskRegister(UC_ARM_REG_PRIMASK) & 1; }
bool CortexM3::faultmask() { return maskRegister(UC_ARM_REG_FAULTMASK) & 1; }
uint32_t CortexM3::basepri() { return maskRegister(UC_ARM_REG_BASEPRI) & 0xFF; }

std::string CortexM3::registerDump() {
  static const char* names[] = {"r0", "r1", "r2", "r3", "r4", "r5", "r6", "r7", "r8", "r9", "r10", "r11", "r12", "sp", "lr", "pc"};
  std::string out;
  char buf[32];
  for (int i = 0; i < 16; ++i) {
    std::snprintf(buf, sizeof buf, "%s=%08X%s", names[i], reg(i), i % 4 == 3 ? "\n" : " ");
    out += buf;
  }
  uint32_t xpsr = 0;
  uc_reg_read(uc_, UC_ARM_REG_XPSR, &xpsr);
  std::snprintf(buf, sizeof buf, "xpsr=%08X", xpsr);
  return out + buf;
}

void CortexM3::enterException(int number, uint32_t vectorTable) {
  SpecialRegisters sr = special();
  exceptionEntry(*this, sr, number, readWord(vectorTable + 4 * uint32_t(number)));
  setSpecial(sr);
  sleeping_ = false;
}

void CortexM3::setReg(int n, uint32_t value) {
  if (n == 15) value |= 1;  // always Thumb
  int id = n <= 12 ? UC_ARM_REG_R0 + n : n == 13 ? UC_ARM_REG_SP : n == 14 ? UC_ARM_REG_LR : UC_ARM_REG_PC;
  uc_reg_write(uc_, id, &value);
}

void CortexM3::setIpsr(uint32_t ipsr) { uc_reg_write(uc_, UC_ARM_REG_IPSR, &ipsr); }

// Unicorn banks the stack pointers as the M3 does: SP holds the one in use (PSP in thread mode
// with CONTROL.SPSEL set) and it swaps the banks itself when IPSR moves between thread and
// handler mode or MSR CONTROL changes SPSEL, so the firmware's MRS/MSR of MSP, PSP and CONTROL
// always see the right values. Its register interface follows the instructions' rules: both
// banks read as zero from unprivileged thread mode, and SPSEL cannot be written in handler
// mode. The two functions below step through privileged modes to see and set everything.
SpecialRegisters CortexM3::special() {
  SpecialRegisters s;
  uc_reg_read(uc_, UC_ARM_REG_XPSR, &s.xpsr);
  uc_reg_read(uc_, UC_ARM_REG_CONTROL, &s.control);
  s.control &= SpecialRegisters::kSpsel | SpecialRegisters::kNpriv;
  bool unprivileged = !s.handlerMode() && (s.control & SpecialRegisters::kNpriv);
  if (unprivileged) setIpsr(1);
  uc_reg_read(uc_, UC_ARM_REG_MSP, &s.msp);
  uc_reg_read(uc_, UC_ARM_REG_PSP, &s.psp);
  if (unprivileged) setIpsr(0);
  return s;
}

void CortexM3::setSpecial(const SpecialRegisters& s) {
  uint32_t zero = 0, spsel = s.handlerMode() ? 0 : s.control & SpecialRegisters::kSpsel;
  uint32_t now = 0;
  uc_reg_read(uc_, UC_ARM_REG_CONTROL, &now);
  if (!(now & 3) && !(s.control & SpecialRegisters::kNpriv) && !spsel) {
    // Privileged on the main stack before and after (most firmware, every interrupt): nothing
    // to swap, so the short way.
    uc_reg_write(uc_, UC_ARM_REG_MSP, &s.msp);
    uc_reg_write(uc_, UC_ARM_REG_PSP, &s.psp);
    setXpsr(s.xpsr);
    return;
  }
  setIpsr(1);  // handler mode is privileged: nPRIV may be cleared
  uc_reg_write(uc_, UC_ARM_REG_CONTROL, &zero);
  setIpsr(0);  // privileged thread mode: SPSEL may be changed
  uc_reg_write(uc_, UC_ARM_REG_CONTROL, &spsel);
  uc_reg_write(uc_, UC_ARM_REG_MSP, &s.msp);
  uc_reg_write(uc_, UC_ARM_REG_PSP, &s.psp);
  setIpsr(s.ipsr());
  uint32_t control = spsel | (s.control & SpecialRegisters::kNpriv);
  uc_reg_write(uc_, UC_ARM_REG_CONTROL, &control);
  setXpsr(s.xpsr);
}

void CortexM3::onBlock(uint64_t address, uint32_t size) {
  if (cycles() >= until_ || stop_.load(std::memory_order_relaxed)) {
    stopBefore(uint32_t(address));
    return;
  }
  resumeAt_.reset();  // a stop that did not take (Unicorn may cancel one) is forgotten
  if (stepping_) {
    // step() counts its one instruction itself. A second block means the instruction branched:
    // stop before the target, which the instruction count alone misses when it is a NOP.
    if (stepBlocks_++ > 0) stopBefore(uint32_t(address));
    return;
  }
  // One cycle per half-word of code: close to the M3's cycle count for mixed 16/32-bit
  // instructions, where loads and taken branches cost extra cycles.
  cycles_.fetch_add(size / 2 ? size / 2 : 1, std::memory_order_relaxed);
}

void CortexM3::stopBefore(uint32_t address) {
  // A stop from a block or code hook leaves the instruction at `address` unexecuted, but
  // while any code hook exists Unicorn does not put the PC back: it keeps whatever an earlier
  // branch left there (often an old return address). The run resumes from here instead.
  resumeAt_ = address;
  uc_emu_stop(uc_);
}

void CortexM3::onInterrupt(uint32_t number) {
  resumeAt_.reset();
  switch (number) {
    case kExcpExceptionExit: {
      SpecialRegisters sr = special();
      std::string error;
      int finished = exceptionReturn(*this, sr, pc() | 1, &error);
      if (!error.empty()) {
        fault(FaultKind::InvalidPc, error);
        break;
      }
      setSpecial(sr);
      if (onExceptionReturn) onExceptionReturn(finished);
      // Tail-chaining and the next pending interrupt are decided between runs.
      requestStop();
      break;
    }
    case kExcpBkpt: {
      uint32_t p = pc();
      uint16_t here = 0, before = 0;
      uc_mem_read(uc_, p, &here, 2);
      uc_mem_read(uc_, p - 2, &before, 2);
      if (here != kSemihostingBkpt && before != kSemihostingBkpt) {
        fault(FaultKind::Other, "breakpoint instruction");
        break;
      }
      uint32_t r0 = reg(0), r1 = reg(1);
      uint32_t result = bus_.semihost(r0, r1);
      uc_reg_write(uc_, UC_ARM_REG_R0, &result);
      if (here == kSemihostingBkpt) {
        uint32_t next = (p + 2) | 1;
        uc_reg_write(uc_, UC_ARM_REG_PC, &next);
      }
      if (exitRequested_) uc_emu_stop(uc_);
      break;
    }
    case kExcpSwi:
      if (onSupervisorCall) onSupervisorCall();
      requestStop();
      break;
    case kExcpHlt:
      sleeping_ = true;
      uc_emu_stop(uc_);
      break;
    case kExcpUdef: fault(FaultKind::UndefinedInstruction, "undefined instruction"); break;
    case kExcpInvState: fault(FaultKind::InvalidState, "instruction executed with the Thumb bit clear"); break;
    case kExcpNoCp: fault(FaultKind::NoCoprocessor, "coprocessor instruction (the Cortex-M3 has none)"); break;
    case kExcpUnaligned: fault(FaultKind::Unaligned, "unaligned access"); break;
    case kExcpDivByZero: fault(FaultKind::DivideByZero, "divide by zero"); break;
    case kExcpPrefetchAbort: {
      char b[64];
      std::snprintf(b, sizeof b, "instruction fetch from 0x%08X", pc());
      fault(pc() >= kExecuteNeverFrom ? FaultKind::InstructionAccess : FaultKind::InstructionBus, b, pc());
      break;
    }
    case kExcpDataAbort:
      // A data access nothing answers went through the unmapped hook (which set the fault
      // first); what is left for QEMU's M-profile data abort is an alignment fault: LDREX/STREX
      // on an unaligned address.
      fault(FaultKind::Unaligned, "unaligned access");
      break;
    default: {
      char b[48];
      std::snprintf(b, sizeof b, "processor exception %u", number);
      fault(FaultKind::Other, b);
      break;
    }
  }
}

void CortexM3::fault(FaultKind kind, const std::string& what, uint32_t address) {
  if (!fault_) fault_ = FaultEvent{kind, address, what};
  uc_emu_stop(uc_);
}

void CortexM3::restoreFaultIt() {
  if (!faultIt_) return;
  uint32_t xpsr = 0;
  uc_reg_read(uc_, UC_ARM_REG_XPSR, &xpsr);
  xpsr = (xpsr & ~0x0600FC00u) | (*faultIt_ & 3) << 25 | (*faultIt_ & 0xFC) << 8;
  setXpsr(xpsr);
  faultIt_.reset();
}

void CortexM3::noteStart() {
  uint32_t xpsr = 0;
  uc_reg_read(uc_, UC_ARM_REG_XPSR, &xpsr);
  emuStart_ = pc() & ~1u;
  emuStartIt_ = ((xpsr >> 8) & 0xFC) | ((xpsr >> 25) & 3);
}

void CortexM3::resumeFrom(uint32_t address) {
  // Writing the PC sets Unicorn's Thumb state from bit 0: keep the one the last instruction left
  // (a BX to an even address clears it, and the next instruction must fault).
  uint32_t xpsr = 0;
  uc_reg_read(uc_, UC_ARM_REG_XPSR, &xpsr);
  uint32_t p = (address & ~1u) | ((xpsr >> 24) & 1);
  uc_reg_write(uc_, UC_ARM_REG_PC, &p);
}

bool CortexM3::thumbBitClear() {
  // Unicorn starts every emulation in Thumb state, so a clear Thumb bit is caught here: the
  // instruction at the PC faults without running, as on the chip.
  uint32_t xpsr = 0;
  uc_reg_read(uc_, UC_ARM_REG_XPSR, &xpsr);
  if (xpsr & 0x01000000) return false;
  fault_ = FaultEvent{FaultKind::InvalidState, 0, "instruction executed with the Thumb bit clear"};
  return true;
}

RunEnd CortexM3::step() {
  stop_.store(false, std::memory_order_relaxed);
  sleeping_ = false;
  if (thumbBitClear()) return RunEnd::Fault;
  until_ = UINT64_MAX;
  resumeAt_.reset();
  // Unicorn's instruction count skips NOPs and the instructions of an IT block, so a count of
  // one alone may run several: the run also ends at the next instruction in sequence, and at the
  // next block when this one branches.
  uint32_t start = pc() & ~1u;
  uint16_t first = 0;
  uc_mem_read(uc_, start, &first, 2);
  bool wide = (first & 0xE000) == 0xE000 && (first & 0x1800) != 0;
  // A block translated earlier (say while a branch or an exception return ended a step there)
  // would run past the end address, which Unicorn only looks at when it translates: translate
  // the block anew.
  uc_ctl_remove_cache(uc_, start, start + (wide ? 4 : 2));
  stepping_ = true;
  stepBlocks_ = 0;
  noteStart();
  uc_err err = uc_emu_start(uc_, start | 1, start + (wide ? 4 : 2), 0, 1);
  stepping_ = false;
  if (resumeAt_ || faultPc_) {
    resumeFrom(faultPc_ ? *faultPc_ : *resumeAt_);
  }
  restoreFaultIt();
  faultPc_.reset();
  bool yielded = false;
  err = uc_err(afterHint(err, &yielded));
  if (err != UC_ERR_OK && !fault_) faultFromError(err);
  if (!fault_) cycles_.fetch_add(1, std::memory_order_relaxed);
  if (fault_) return RunEnd::Fault;
  if (exitRequested_) return RunEnd::Exited;
  // WFI ends a step as it ends a run: the caller waits for an interrupt.
  if (sleeping_ || first == kWfi || first == kWfe) return RunEnd::Sleeping;
  // SVC, an exception return or a lowered mask asked for the caller's attention, as in run().
  if (stop_.load(std::memory_order_relaxed)) return RunEnd::Interrupted;
  return RunEnd::Budget;
}

void CortexM3::faultFromError(int err) {
  switch (err) {
    case UC_ERR_INSN_INVALID: fault_ = FaultEvent{FaultKind::UndefinedInstruction, 0, "undefined instruction"}; break;
    case UC_ERR_WRITE_PROT: fault_ = FaultEvent{FaultKind::Other, 0, "write to read-only memory"}; break;
    case UC_ERR_FETCH_PROT:
      fault_ = FaultEvent{FaultKind::InstructionAccess, 0, "instruction fetch from non-executable memory"};
      break;
    case UC_ERR_READ_UNALIGNED: case UC_ERR_WRITE_UNALIGNED: case UC_ERR_FETCH_UNALIGNED:
      fault_ = FaultEvent{FaultKind::Unaligned, 0, "unaligned access"};
      break;
    default: fault_ = FaultEvent{FaultKind::Other, 0, uc_strerror(uc_err(err))}; break;
  }
}

int CortexM3::afterHint(int err, bool* yielded) {
  // Unicorn ends the emulation at WFE and YIELD with "invalid instruction" without telling the
  // interrupt hook (a real undefined instruction goes through the hook first and sets fault_).
  // The hint has run and the PC is past it: WFE sleeps like WFI, YIELD is a NOP.
  if (err != UC_ERR_INSN_INVALID || fault_) return err;
  uint16_t before = 0;
  uc_mem_read(uc_, pc() - 2, &before, 2);
  if (before == kWfe) sleeping_ = true;
  if (before == kYield) *yielded = true;
  return before == kWfe || before == kYield ? UC_ERR_OK : err;
}

void CortexM3::invalidateCode(uint32_t base, uint32_t size) {
  if (size) uc_ctl_remove_cache(uc_, base, uint64_t(base) + size);
}

CoreRegisters CortexM3::registers() {
  CoreRegisters r;
  for (int i = 0; i < 13; ++i) r.r[i] = reg(i);
  r.sp = reg(13), r.lr = reg(14), r.pc = pc() & ~1u;
  SpecialRegisters s = special();
  r.xpsr = s.xpsr, r.msp = s.msp, r.psp = s.psp, r.control = s.control;
  r.primask = primask(), r.faultmask = faultmask(), r.basepri = basepri();
  return r;
}

void CortexM3::setRegisters(const CoreRegisters& r) {
  for (int i = 0; i < 13; ++i) setReg(i, r.r[i]);
  setReg(14, r.lr);
  setReg(15, r.pc);
  SpecialRegisters s;
  s.xpsr = r.xpsr, s.control = r.control, s.msp = r.msp, s.psp = r.psp;
  s.setSp(r.sp);  // the banked copy in use follows what the debugger wrote to SP
  setSpecial(s);
  uint32_t pm = r.primask & 1, fm = r.faultmask & 1, bp = r.basepri & 0xFF;
  maskRegister(UC_ARM_REG_PRIMASK, &pm);
  maskRegister(UC_ARM_REG_FAULTMASK, &fm);
  maskRegister(UC_ARM_REG_BASEPRI, &bp);
}

void CortexM3::setBreakpoint(uint32_t address, bool on) {
  address &= ~1u;
  auto it = breakHooks_.find(address);
  if (on && it == breakHooks_.end()) {
    uc_hook h;
    check(uc_hook_add(uc_, &h, UC_HOOK_CODE, reinterpret_cast<void*>(breakpointHook), this, address, address), "breakpoint");
    breakHooks_[address] = size_t(h);
  } else if (!on && it != breakHooks_.end()) {
    uc_hook_del(uc_, uc_hook(it->second));
    breakHooks_.erase(it);
  } else {
    return;
  }
  // Code translated before the change would not call the hook (or would still call it).
  uc_ctl_remove_cache(uc_, address, uint64_t(address) + 4);
}

void CortexM3::onBreakpoint(uint32_t address) {
  if (stepping_) return;
  if (address == skipBreakAt_) {
    skipBreakAt_ = 1;
    return;
  }
  breakStop_ = true;
  stopBefore(address);
}

void CortexM3::setWatchpoint(uint32_t address, uint32_t length, bool read, bool write, bool on) {
  for (auto it = watchHooks_.begin(); it != watchHooks_.end(); ++it) {
    if (it->address != address || it->length != length || it->read != read || it->write != write) continue;
    if (on) return;
    uc_hook_del(uc_, uc_hook(it->hook));
    watchHooks_.erase(it);
    if (watchHooks_.empty() && watchCodeHook_) {
      uc_hook_del(uc_, uc_hook(watchCodeHook_));
      watchCodeHook_ = 0;
    }
    dropTranslations();  // code with the slower memory path goes
    return;
  }
  if (!on || length == 0) return;
  WatchHook& w = watchHooks_.emplace_back(WatchHook{address, length, read, write, 0, this});
  int type = (read ? UC_HOOK_MEM_READ : 0) | (write ? UC_HOOK_MEM_WRITE : 0);
  // An access that starts up to 3 bytes below the range may still touch it.
  uint64_t begin = address >= 3 ? address - 3 : 0, end = uint64_t(address) + length - 1;
  uc_hook h;
  check(uc_hook_add(uc_, &h, type, reinterpret_cast<void*>(watchHook), &w, begin, end), "watchpoint");
  w.hook = size_t(h);
  if (!watchCodeHook_) {
    check(uc_hook_add(uc_, &h, UC_HOOK_CODE, reinterpret_cast<void*>(afterWatchHook), this, 1, 0), "watchpoint");
    watchCodeHook_ = size_t(h);
  }
  dropTranslations();
}

void CortexM3::dropTranslations() {
  // Hooks are woven into code as it is translated. Dropping the translations of the mapped code
  // is much cheaper than a full flush, which clears Unicorn's whole code buffer.
  for (const auto& [base, size] : codeRanges_) uc_ctl_remove_cache(uc_, base, uint64_t(base) + size);
}

void CortexM3::onInstructionAfterWatch(uint32_t address) {
  if (!watchPending_) return;
  watchPending_ = false;
  watchStop_ = true;
  stopBefore(address);
}

void CortexM3::onWatch(const WatchHook& w, uint32_t address, int size) {
  if (uint64_t(address) + uint32_t(size) <= w.address || address >= uint64_t(w.address) + w.length) return;
  watchHit_ = std::max(address, w.address);
  if (stepping_) return;  // the step ends after this instruction anyway
  watchPending_ = true;  // the run ends before the next instruction
}

void CortexM3::requestStop() {
  stop_.store(true, std::memory_order_relaxed);
}

RunEnd CortexM3::run(uint64_t untilCycle) {
  until_ = untilCycle;
  stop_.store(false, std::memory_order_relaxed);
  sleeping_ = false;
  // At least one block runs, so time always moves on.
  if (until_ <= cycles()) until_ = cycles() + 1;
  if (thumbBitClear()) return RunEnd::Fault;
  skipBreakAt_ = pc() & ~1u;
  breakStop_ = watchStop_ = watchPending_ = false;
  uc_err err = UC_ERR_OK;
  for (bool yielded = true; yielded;) {
    resumeAt_.reset();
    noteStart();
    err = uc_emu_start(uc_, pc() | 1, 0, 0, 0);
    if (resumeAt_ || faultPc_) {
      resumeFrom(faultPc_ ? *faultPc_ : *resumeAt_);
    }
    restoreFaultIt();
    faultPc_.reset();
    yielded = false;
    err = uc_err(afterHint(err, &yielded));
    // After YIELD the run goes on unless something else ended it.
    yielded = yielded && cycles() < until_ && !stop_.load(std::memory_order_relaxed) && !exitRequested_;
  }
  if (err != UC_ERR_OK && !fault_) faultFromError(err);
  if (fault_) return RunEnd::Fault;
  if (exitRequested_) return RunEnd::Exited;
  if (breakStop_) return RunEnd::Breakpoint;
  if (watchStop_ || watchPending_) {
    // A hit on the run's last instruction ends it without the next instruction's hook.
    watchPending_ = false;
    return RunEnd::Watchpoint;
  }
  if (!sleeping_) {
    // WFI ends the emulation without telling the hook on some builds: look at the instruction.
    uint16_t before = 0;
    uc_mem_read(uc_, pc() - 2, &before, 2);
    if ((before == kWfi || before == kWfe) && cycles() < until_ && !stop_.load()) sleeping_ = true;
  }
  if (sleeping_) return RunEnd::Sleeping;
  if (stop_.load(std::memory_order_relaxed)) return RunEnd::Interrupted;
  return RunEnd::Budget;
}

}  // namespace korvel::sim
