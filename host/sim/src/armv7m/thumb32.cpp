// The 32-bit Thumb-2 encodings of the Cortex-M3: decode32() and their handlers.
//
// The encodings are one table (kEncodings, at the end) that reads like the architecture
// manual's index: a 32-bit pattern over hw1:hw2 (hw1 in the high half, so the bits read in the
// manual's order), the form that pulls the fields into an Op, the handler and the base cycle
// count. The first matching row wins, so a special case (TST before AND, a hint before a load)
// comes before its general row; nothing matching is UNDEFINED. The Cortex-M3 has no DSP
// extension, no floating point and no coprocessor: those encodings are undefined, coprocessor
// space faults as NOCP.
//
// UNPREDICTABLE register choices (PC or SP where the manual forbids them) execute as the
// pseudo-code reads with the PC operand rule; impossible field values (a bit-field past bit 31,
// an LDRD writing back to the PC) are undefined.
#include <bit>

#include "core.h"

namespace korvel::sim::armv7m {
namespace {

// The cycle model (Cortex-M3, zero wait states): each row of the table carries the
// instruction's base cycles (LDR 2, LDRD 3); handlers add what depends on the operands: the
// pipeline refill of every write to the PC, one cycle per register of LDM/STM, the early
// termination of long multiplies and divides.
void refill(Core& c) { c.addExtraCycles(Core::kBranchRefill); }

// Op::flags bits of our own, beyond the shared ones.
constexpr uint8_t kImmCarries = 32;  // a modified immediate with a rotation: it sets the carry
constexpr uint8_t kImmCarry = 64;    // ...to this
constexpr uint8_t kRegOffset = 32;   // loads/stores: the offset is Rm << shiftN

uint32_t ror(uint32_t v, uint32_t n) { return std::rotr(v, int(n & 31)); }

// ---- data processing ----
enum class Logic { And, Bic, Orr, Orn, Eor, Mov, Mvn, Tst, Teq };

template <Logic L, bool Imm>
void logical(Core& c, const Op& op) {
  uint32_t b;
  bool carry;
  if constexpr (Imm) {
    b = op.imm;
    carry = (op.flags & kImmCarries) ? (op.flags & kImmCarry) != 0 : c.c_;
  } else {
    ResultCarry rc = c.shifted(c.get(op.rm), op);
    b = rc.value, carry = rc.carry;
  }
  uint32_t a = c.get(op.rn), r = 0;
  switch (L) {
    case Logic::And: case Logic::Tst: r = a & b; break;
    case Logic::Bic: r = a & ~b; break;
    case Logic::Orr: r = a | b; break;
    case Logic::Orn: r = a | ~b; break;
    case Logic::Eor: case Logic::Teq: r = a ^ b; break;
    case Logic::Mov: r = b; break;
    case Logic::Mvn: r = ~b; break;
  }
  constexpr bool test = L == Logic::Tst || L == Logic::Teq;
  if constexpr (!test) {
    c.writeReg(op.rd, r);
    if (op.rd == 15) refill(c);
  }
  if (test || (op.flags & kSetFlags)) c.setNz(r), c.c_ = carry;
}

enum class Arith { Add, Adc, Sub, Sbc, Rsb, Cmn, Cmp };

template <Arith A, bool Imm>
void arith(Core& c, const Op& op) {
  uint32_t b = Imm ? op.imm : c.shifted(c.get(op.rm), op).value;
  uint32_t a = c.get(op.rn);
  AddResult r{};
  switch (A) {
    case Arith::Add: case Arith::Cmn: r = addWithCarry(a, b, false); break;
    case Arith::Adc: r = addWithCarry(a, b, c.c_); break;
    case Arith::Sub: case Arith::Cmp: r = addWithCarry(a, ~b, true); break;
    case Arith::Sbc: r = addWithCarry(a, ~b, c.c_); break;
    case Arith::Rsb: r = addWithCarry(~a, b, true); break;
  }
  constexpr bool compare = A == Arith::Cmn || A == Arith::Cmp;
  if constexpr (!compare) {
    c.writeReg(op.rd, r.value);
    if (op.rd == 15) refill(c);
  }
  if (compare || (op.flags & kSetFlags)) c.setNz(r.value), c.c_ = r.carry, c.v_ = r.overflow;
}

// MOVW and ADR: the value was known when decoding.
void movImm(Core& c, const Op& op) { c.writeReg(op.rd, op.imm); }
void movt(Core& c, const Op& op) { c.writeReg(op.rd, (c.get(op.rd) & 0xFFFF) | (op.imm << 16)); }

// SSAT/USAT: op.imm is the saturation width (SSAT 1..32, USAT 0..31).
template <bool Signed>
void saturate(Core& c, const Op& op) {
  int64_t v = int32_t(shiftC(c.get(op.rn), op.shiftType, op.shiftN, c.c_).value);
  int64_t lo, hi;
  if constexpr (Signed) {
    hi = (int64_t(1) << (op.imm - 1)) - 1, lo = -(int64_t(1) << (op.imm - 1));
  } else {
    hi = (int64_t(1) << op.imm) - 1, lo = 0;
  }
  int64_t r = v < lo ? lo : v > hi ? hi : v;
  if (r != v) c.q_ = true;
  c.writeReg(op.rd, uint32_t(r));
}

// SBFX/UBFX: shiftN is the lsb, imm the width (1..32, lsb + width <= 32).
template <bool Signed>
void bitExtract(Core& c, const Op& op) {
  uint32_t v = c.get(op.rn) >> op.shiftN;
  uint32_t width = op.imm;
  if (width < 32) {
    v &= (1u << width) - 1;
    if (Signed && ((v >> (width - 1)) & 1)) v |= ~0u << width;
  }
  c.writeReg(op.rd, v);
}

// BFI/BFC: shiftN is the lsb, imm the msb (>= lsb).
template <bool Clear>
void bitInsert(Core& c, const Op& op) {
  uint32_t lsb = op.shiftN, msb = op.imm;
  uint32_t mask = (msb == 31 ? ~0u : (1u << (msb + 1)) - 1) & (~0u << lsb);
  uint32_t src = Clear ? 0 : c.get(op.rn) << lsb;
  c.writeReg(op.rd, (c.get(op.rd) & ~mask) | (src & mask));
}

// LSL/LSR/ASR/ROR by a register: the amount is its bottom byte, so 32 and more are meaningful.
template <uint8_t Type>
void shiftByRegister(Core& c, const Op& op) {
  ResultCarry rc = shiftC(c.get(op.rn), Type, c.get(op.rm) & 0xFF, c.c_);
  c.writeReg(op.rd, rc.value);
  if (op.flags & kSetFlags) c.setNz(rc.value), c.c_ = rc.carry;
}

// SXTB/UXTB/SXTH/UXTH with a rotation of 0, 8, 16 or 24 (shiftN).
template <bool Signed, bool Half>
void extend(Core& c, const Op& op) {
  uint32_t v = ror(c.get(op.rm), op.shiftN);
  if constexpr (Half) v = Signed ? uint32_t(int32_t(int16_t(v))) : (v & 0xFFFF);
  else v = Signed ? uint32_t(int32_t(int8_t(v))) : (v & 0xFF);
  c.writeReg(op.rd, v);
}

void rev(Core& c, const Op& op) { c.writeReg(op.rd, __builtin_bswap32(c.get(op.rm))); }
void rev16(Core& c, const Op& op) {
  uint32_t v = c.get(op.rm);
  c.writeReg(op.rd, ((v & 0x00FF00FF) << 8) | ((v >> 8) & 0x00FF00FF));
}
void revsh(Core& c, const Op& op) {
  uint32_t v = c.get(op.rm);
  c.writeReg(op.rd, uint32_t(int32_t(int16_t(uint16_t(((v & 0xFF) << 8) | ((v >> 8) & 0xFF))))));
}
void rbit(Core& c, const Op& op) {
  uint32_t v = c.get(op.rm), r = 0;
  for (int i = 0; i < 32; ++i) r |= ((v >> i) & 1) << (31 - i);
  c.writeReg(op.rd, r);
}
void clz(Core& c, const Op& op) { c.writeReg(op.rd, uint32_t(std::countl_zero(c.get(op.rm)))); }

// ---- multiply and divide ----
void mul(Core& c, const Op& op) { c.writeReg(op.rd, c.get(op.rn) * c.get(op.rm)); }
void mla(Core& c, const Op& op) { c.writeReg(op.rd, c.get(op.rn) * c.get(op.rm) + c.get(op.ra)); }
void mls(Core& c, const Op& op) { c.writeReg(op.rd, c.get(op.ra) - c.get(op.rn) * c.get(op.rm)); }

// The M3's long multiplier ends early for small operands: 3 cycles (4 accumulating) when the
// multiplier fits 16 significant bits, a cycle more for each further 8 (the TRM's 3-5 / 4-7).
uint32_t longMultiplyExtra(uint32_t m, bool isSigned) {
  uint32_t magnitude = isSigned && int32_t(m) < 0 ? ~m : m;
  int significant = 32 - std::countl_zero(magnitude) + (isSigned ? 1 : 0);
  return significant > 24 ? 2 : significant > 16 ? 1 : 0;
}

// RdLo is ra, RdHi is rd (written last: it wins when both name one register).
template <bool Signed, bool Accumulate>
void multiplyLong(Core& c, const Op& op) {
  uint32_t n = c.get(op.rn), m = c.get(op.rm);
  uint64_t r = Signed ? uint64_t(int64_t(int32_t(n)) * int64_t(int32_t(m))) : uint64_t(n) * m;
  if constexpr (Accumulate) r += (uint64_t(c.get(op.rd)) << 32) | c.get(op.ra);
  c.writeReg(op.ra, uint32_t(r));
  c.writeReg(op.rd, uint32_t(r >> 32));
  c.addExtraCycles(longMultiplyExtra(m, Signed) + (Accumulate ? 1 : 0));
}

// The divider ends early too: 2 cycles plus about one per 3 bits of quotient, up to 12.
uint32_t divideExtra(uint32_t n, uint32_t m) {
  int quotientBits = std::countl_zero(m) - std::countl_zero(n) + 1;
  if (quotientBits <= 0) return 0;
  return uint32_t((quotientBits * 10 + 31) / 32);
}

template <bool Signed>
void divide(Core& c, const Op& op) {
  uint32_t n = c.get(op.rn), m = c.get(op.rm);
  if (m == 0) {
    if (c.divideByZeroTrapOn()) {
      c.fault(FaultKind::DivideByZero, "divide by zero");
      return;
    }
    c.writeReg(op.rd, 0);
    return;
  }
  uint32_t r;
  if constexpr (Signed) {
    // INT_MIN / -1 overflows: the architecture answers INT_MIN, C++ would trap.
    if (n == 0x80000000u && m == 0xFFFFFFFFu) r = n;
    else r = uint32_t(int32_t(n) / int32_t(m));
    uint32_t an = int32_t(n) < 0 ? 0u - n : n, am = int32_t(m) < 0 ? 0u - m : m;
    c.addExtraCycles(divideExtra(an, am));
  } else {
    r = n / m;
    c.addExtraCycles(divideExtra(n, m));
  }
  c.writeReg(op.rd, r);
}

// ---- branches and control ----
void branch(Core& c, const Op& op) {
  c.branchTo(op.imm);
  refill(c);
}
void branchCond(Core& c, const Op& op) {
  if (!c.conditionPassed(op.cond)) return;
  c.branchTo(op.imm);
  refill(c);
}
void branchLink(Core& c, const Op& op) {
  c.r_[14] = (c.pc_ + 4) | 1;  // BL is always 32-bit
  c.branchTo(op.imm);
  refill(c);
}

// op.imm: SYSm in bits 7:0, the MSR mask in bits 9:8.
void msr(Core& c, const Op& op) { c.msr(op.imm & 0xFF, c.get(op.rn), op.imm >> 8); }
void mrs(Core& c, const Op& op) { c.writeReg(op.rd, c.mrs(op.imm)); }
void nop(Core&, const Op&) {}
void wfi(Core& c, const Op&) { c.wfi(); }
// Without a second core to send events, WFE sleeps like WFI: an interrupt wakes both.
void wfe(Core& c, const Op&) { c.wfi(); }
void clrex(Core& c, const Op&) { c.exclusiveOpen_ = false; }
// ISB refetches what follows: the cost of a refill, without a branch.
void isb(Core& c, const Op&) { refill(c); }

void noCoprocessor(Core& c, const Op&) {
  c.fault(FaultKind::NoCoprocessor, "coprocessor instruction (the Cortex-M3 has none)");
}

// ---- loads and stores ----
struct Address { uint32_t access, offset; };  // where to access; the written-back address

// Base (Align(PC, 4) for the literal forms), plus or minus an immediate or a shifted Rm.
Address address(const Core& c, const Op& op) {
  uint32_t base = op.rn == 15 ? c.pcAligned() : c.r_[op.rn];
  uint32_t offset = (op.flags & kRegOffset) ? c.get(op.rm) << op.shiftN : op.imm;
  uint32_t offsetAddress = (op.flags & kAdd) ? base + offset : base - offset;
  return {(op.flags & kIndex) ? offsetAddress : base, offsetAddress};
}

template <int Size, bool Signed>
void load(Core& c, const Op& op) {
  Address a = address(c, op);
  uint32_t v = Size == 1 ? c.read8(a.access) : Size == 2 ? c.read16(a.access) : c.read32(a.access);
  if (c.faulted()) return;
  if constexpr (Signed) v = Size == 1 ? uint32_t(int32_t(int8_t(v))) : uint32_t(int32_t(int16_t(v)));
  if (op.flags & kWriteBack) c.r_[op.rn] = a.offset;
  if (op.rd == 15) {
    c.loadWritePc(v);
    refill(c);
  } else {
    c.r_[op.rd] = v;
  }
}

template <int Size>
void store(Core& c, const Op& op) {
  Address a = address(c, op);
  uint32_t v = c.get(op.rd);
  if (Size == 1) c.write8(a.access, v & 0xFF);
  else if (Size == 2) c.write16(a.access, v & 0xFFFF);
  else c.write32(a.access, v);
  if (c.faulted()) return;
  if (op.flags & kWriteBack) c.r_[op.rn] = a.offset;
}

// LDRD/STRD: Rt is rd, Rt2 is ra; both words must be word-aligned.
void loadDual(Core& c, const Op& op) {
  Address a = address(c, op);
  uint32_t first = c.read32Aligned(a.access);
  if (c.faulted()) return;
  uint32_t second = c.read32Aligned(a.access + 4);
  if (c.faulted()) return;
  c.writeReg(op.rd, first);
  c.writeReg(op.ra, second);
  // Written back last: with the base also loaded (UNPREDICTABLE) the address wins.
  if (op.flags & kWriteBack) c.r_[op.rn] = a.offset;
}

void storeDual(Core& c, const Op& op) {
  Address a = address(c, op);
  c.write32Aligned(a.access, c.get(op.rd));
  if (c.faulted()) return;
  c.write32Aligned(a.access + 4, c.get(op.ra));
  if (c.faulted()) return;
  if (op.flags & kWriteBack) c.r_[op.rn] = a.offset;
}

// LDM/STM increment-after and decrement-before; op.imm is the register list. An LDM that
// faults part way leaves every register as it was, so returning from the fault handler and
// executing it again sees the same base.
template <bool DecrementBefore>
void loadMultiple(Core& c, const Op& op) {
  uint32_t list = op.imm & 0xFFFF, count = uint32_t(std::popcount(list));
  uint32_t base = c.r_[op.rn];
  uint32_t address = DecrementBefore ? base - 4 * count : base;
  uint32_t values[16] = {};
  for (int i = 0; i < 16; ++i) {
    if (!((list >> i) & 1)) continue;
    values[i] = c.read32Aligned(address);
    if (c.faulted()) return;
    address += 4;
  }
  for (int i = 0; i < 15; ++i)
    if ((list >> i) & 1) c.r_[i] = values[i];
  // A base in the list keeps its loaded value (with write-back that is undefined at decode).
  if ((op.flags & kWriteBack) && !((list >> op.rn) & 1))
    c.r_[op.rn] = DecrementBefore ? base - 4 * count : base + 4 * count;
  c.addExtraCycles(count);
  if (list & 0x8000) {
    c.loadWritePc(values[15]);
    refill(c);
  }
}

template <bool DecrementBefore>
void storeMultiple(Core& c, const Op& op) {
  uint32_t list = op.imm & 0xFFFF, count = uint32_t(std::popcount(list));
  uint32_t base = c.r_[op.rn];
  uint32_t address = DecrementBefore ? base - 4 * count : base;
  for (int i = 0; i < 16; ++i) {
    if (!((list >> i) & 1)) continue;
    c.write32Aligned(address, c.get(i));
    if (c.faulted()) return;
    address += 4;
  }
  if (op.flags & kWriteBack) c.r_[op.rn] = DecrementBefore ? base - 4 * count : base + 4 * count;
  c.addExtraCycles(count);
}

// Exclusive accesses must be aligned to their size whether or not the store goes ahead.
bool alignedForExclusive(Core& c, uint32_t address, uint32_t size) {
  if ((address & (size - 1)) == 0) return true;
  c.fault(FaultKind::Unaligned, "unaligned exclusive access", address);
  return false;
}

// LDREX*: Rt is rd, the offset imm.
template <int Size>
void loadExclusive(Core& c, const Op& op) {
  uint32_t address = c.r_[op.rn] + op.imm;
  if (!alignedForExclusive(c, address, Size)) return;
  uint32_t v = Size == 1 ? c.read8(address) : Size == 2 ? c.read16(address) : c.read32Aligned(address);
  if (c.faulted()) return;
  c.exclusiveOpen_ = true;
  c.exclusiveAddress_ = address;
  c.writeReg(op.rd, v);
}

// STREX*: the status register is rd, the value Rt is rm. The store happens only while the
// monitor holds this address; either way the monitor closes.
template <int Size>
void storeExclusive(Core& c, const Op& op) {
  uint32_t address = c.r_[op.rn] + op.imm;
  if (!alignedForExclusive(c, address, Size)) return;
  if (c.exclusiveOpen_ && c.exclusiveAddress_ == address) {
    uint32_t v = c.get(op.rm);
    if (Size == 1) c.write8(address, v & 0xFF);
    else if (Size == 2) c.write16(address, v & 0xFFFF);
    else c.write32Aligned(address, v);
    if (c.faulted()) return;
    c.exclusiveOpen_ = false;
    c.writeReg(op.rd, 0);
  } else {
    c.exclusiveOpen_ = false;
    c.writeReg(op.rd, 1);
  }
}

// TBB/TBH: a forward branch by twice the table entry at Rn + Rm (TBH: Rn + 2 * Rm).
template <bool Half>
void tableBranch(Core& c, const Op& op) {
  uint32_t base = c.get(op.rn), index = c.get(op.rm);
  uint32_t entry = Half ? c.read16(base + (index << 1)) : c.read8(base + index);
  if (c.faulted()) return;
  c.branchTo(c.pcOperand() + 2 * entry);
  refill(c);
}

// ---- the forms: fields of an encoding into an Op ----
// insn is hw1:hw2; h1/h2 take bits of one halfword numbered as the manual does.
uint32_t h1(uint32_t insn, int hi, int lo) { return (insn >> (16 + lo)) & ((1u << (hi - lo + 1)) - 1); }
uint32_t h2(uint32_t insn, int hi, int lo) { return (insn >> lo) & ((1u << (hi - lo + 1)) - 1); }
uint8_t reg(uint32_t v) { return uint8_t(v); }
uint8_t sBit(uint32_t insn) { return h1(insn, 4, 4) ? kSetFlags : 0; }
uint32_t signExtend(uint32_t v, int bits) { return uint32_t(int32_t(v << (32 - bits)) >> (32 - bits)); }

using Form = bool (*)(uint32_t insn, uint32_t pc, Op& op);

bool fNone(uint32_t, uint32_t, Op&) { return true; }

// Data processing, modified immediate: i:imm3:imm8 through ThumbExpandImm. A rotated constant
// sets the carry to its bit 31; the plain and replicated ones leave it.
bool fModImm(uint32_t insn, uint32_t, Op& op) {
  op.rn = reg(h1(insn, 3, 0)), op.rd = reg(h2(insn, 11, 8));
  uint32_t imm12 = h1(insn, 10, 10) << 11 | h2(insn, 14, 12) << 8 | h2(insn, 7, 0);
  ResultCarry rc = thumbExpandImmC(imm12, false);
  op.imm = rc.value;
  op.flags = sBit(insn);
  if (imm12 >> 10) op.flags |= kImmCarries | (rc.carry ? kImmCarry : 0);
  return true;
}

// Data processing, shifted register: Rm shifted by imm3:imm2 of type.
bool fShiftedReg(uint32_t insn, uint32_t, Op& op) {
  op.rn = reg(h1(insn, 3, 0)), op.rd = reg(h2(insn, 11, 8)), op.rm = reg(h2(insn, 3, 0));
  decodeImmShift(h2(insn, 5, 4), h2(insn, 14, 12) << 2 | h2(insn, 7, 6), op.shiftType, op.shiftN);
  op.flags = sBit(insn);
  return true;
}

// ADDW/SUBW: a plain 12-bit immediate, never setting flags.
bool fImm12(uint32_t insn, uint32_t, Op& op) {
  op.rn = reg(h1(insn, 3, 0)), op.rd = reg(h2(insn, 11, 8));
  op.imm = h1(insn, 10, 10) << 11 | h2(insn, 14, 12) << 8 | h2(insn, 7, 0);
  return true;
}

// ADR: Align(PC, 4) plus or minus the immediate (hw1 bit 7 says minus), known now.
bool fAdr(uint32_t insn, uint32_t pc, Op& op) {
  fImm12(insn, pc, op);
  uint32_t base = (pc + 4) & ~3u;
  op.imm = h1(insn, 7, 7) ? base - op.imm : base + op.imm;
  return true;
}

// MOVW/MOVT: imm4:i:imm3:imm8.
bool fImm16(uint32_t insn, uint32_t, Op& op) {
  op.rd = reg(h2(insn, 11, 8));
  op.imm = h1(insn, 3, 0) << 12 | h1(insn, 10, 10) << 11 | h2(insn, 14, 12) << 8 | h2(insn, 7, 0);
  return true;
}

// SSAT/USAT: LSL #0-31 or ASR #1-31; ASR #0 is SSAT16/USAT16, a DSP instruction.
template <bool Signed>
bool fSaturate(uint32_t insn, uint32_t, Op& op) {
  op.rn = reg(h1(insn, 3, 0)), op.rd = reg(h2(insn, 11, 8));
  uint32_t sh = h1(insn, 5, 5), imm5 = h2(insn, 14, 12) << 2 | h2(insn, 7, 6);
  if (sh && imm5 == 0) return false;
  decodeImmShift(sh << 1, imm5, op.shiftType, op.shiftN);
  op.imm = h2(insn, 4, 0) + (Signed ? 1 : 0);
  return true;
}

// SBFX/UBFX: lsb = imm3:imm2, width = widthm1 + 1; a field past bit 31 is undefined.
bool fBitExtract(uint32_t insn, uint32_t, Op& op) {
  op.rn = reg(h1(insn, 3, 0)), op.rd = reg(h2(insn, 11, 8));
  uint32_t lsb = h2(insn, 14, 12) << 2 | h2(insn, 7, 6), width = h2(insn, 4, 0) + 1;
  if (lsb + width > 32) return false;
  op.shiftN = uint8_t(lsb), op.imm = width;
  return true;
}

// BFI/BFC: lsb = imm3:imm2, msb; msb below lsb is undefined.
bool fBitInsert(uint32_t insn, uint32_t, Op& op) {
  op.rn = reg(h1(insn, 3, 0)), op.rd = reg(h2(insn, 11, 8));
  uint32_t lsb = h2(insn, 14, 12) << 2 | h2(insn, 7, 6), msb = h2(insn, 4, 0);
  if (msb < lsb) return false;
  op.shiftN = uint8_t(lsb), op.imm = msb;
  return true;
}

// Three registers: Rn in hw1, Rd and Rm in hw2 (register shifts, REV/CLZ, MUL, SDIV); Ra in
// hw2 bits 15:12 (MLA, and RdLo of the long multiplies, whose RdHi is Rd).
bool fRegs(uint32_t insn, uint32_t, Op& op) {
  op.rn = reg(h1(insn, 3, 0)), op.rd = reg(h2(insn, 11, 8)), op.rm = reg(h2(insn, 3, 0));
  op.ra = reg(h2(insn, 15, 12));
  op.flags = sBit(insn);
  return true;
}

// SXTB/UXTB/SXTH/UXTH: rotation 8 * hw2[5:4].
bool fExtend(uint32_t insn, uint32_t, Op& op) {
  op.rd = reg(h2(insn, 11, 8)), op.rm = reg(h2(insn, 3, 0));
  op.shiftN = uint8_t(h2(insn, 5, 4) * 8);
  return true;
}

// B<c>.W: S:J2:J1:imm6:imm11:0; the target is known now. cond 111x is not a branch.
bool fBranchCond(uint32_t insn, uint32_t pc, Op& op) {
  op.cond = uint8_t(h1(insn, 9, 6));
  if (op.cond >= 14) return false;
  uint32_t imm = h1(insn, 10, 10) << 20 | h2(insn, 11, 11) << 19 | h2(insn, 13, 13) << 18 |
                 h1(insn, 5, 0) << 12 | h2(insn, 10, 0) << 1;
  op.imm = pc + 4 + signExtend(imm, 21);
  return true;
}

// B.W and BL: S:I1:I2:imm10:imm11:0 with In = NOT(Jn XOR S).
bool fBranch(uint32_t insn, uint32_t pc, Op& op) {
  uint32_t s = h1(insn, 10, 10);
  uint32_t i1 = ~(h2(insn, 13, 13) ^ s) & 1, i2 = ~(h2(insn, 11, 11) ^ s) & 1;
  uint32_t imm = s << 24 | i1 << 23 | i2 << 22 | h1(insn, 9, 0) << 12 | h2(insn, 10, 0) << 1;
  op.imm = pc + 4 + signExtend(imm, 25);
  return true;
}

bool fMsr(uint32_t insn, uint32_t, Op& op) {
  op.rn = reg(h1(insn, 3, 0));
  op.imm = h2(insn, 7, 0) | h2(insn, 11, 10) << 8;
  return true;
}

bool fMrs(uint32_t insn, uint32_t, Op& op) {
  op.rd = reg(h2(insn, 11, 8));
  op.imm = h2(insn, 7, 0);
  return true;
}

// Loads and stores: Rt goes to rd.
bool fImmOffset12(uint32_t insn, uint32_t, Op& op) {
  op.rn = reg(h1(insn, 3, 0)), op.rd = reg(h2(insn, 15, 12));
  op.imm = h2(insn, 11, 0);
  op.flags = kAdd | kIndex;
  return true;
}

// imm8 with P (index), U (add), W (write-back); P = 0 without W is unallocated.
bool fImmOffset8(uint32_t insn, uint32_t, Op& op) {
  op.rn = reg(h1(insn, 3, 0)), op.rd = reg(h2(insn, 15, 12));
  op.imm = h2(insn, 7, 0);
  bool p = h2(insn, 10, 10), u = h2(insn, 9, 9), w = h2(insn, 8, 8);
  if (!p && !w) return false;
  op.flags = uint8_t((p ? kIndex : 0) | (u ? kAdd : 0) | (w ? kWriteBack : 0));
  return true;
}

// LDRT/STRT and the other unprivileged forms: a positive imm8 offset. Without an MPU
// unprivileged accesses reach the same memory.
bool fImmOffsetT(uint32_t insn, uint32_t, Op& op) {
  op.rn = reg(h1(insn, 3, 0)), op.rd = reg(h2(insn, 15, 12));
  op.imm = h2(insn, 7, 0);
  op.flags = kAdd | kIndex;
  return true;
}

bool fRegOffset(uint32_t insn, uint32_t, Op& op) {
  op.rn = reg(h1(insn, 3, 0)), op.rd = reg(h2(insn, 15, 12)), op.rm = reg(h2(insn, 3, 0));
  op.shiftN = uint8_t(h2(insn, 5, 4));
  op.flags = kAdd | kIndex | kRegOffset;
  return true;
}

// Literal: Align(PC, 4) plus or minus imm12 (U in hw1 bit 7); rn stays 15.
bool fLiteral(uint32_t insn, uint32_t, Op& op) {
  op.rn = 15, op.rd = reg(h2(insn, 15, 12));
  op.imm = h2(insn, 11, 0);
  op.flags = uint8_t(kIndex | (h1(insn, 7, 7) ? kAdd : 0));
  return true;
}

// LDRD/STRD: imm8 * 4 with P, U, W in hw1; Rt2 goes to ra. Writing back to the PC is
// meaningless: undefined.
bool fDual(uint32_t insn, uint32_t, Op& op) {
  op.rn = reg(h1(insn, 3, 0)), op.rd = reg(h2(insn, 15, 12)), op.ra = reg(h2(insn, 11, 8));
  op.imm = h2(insn, 7, 0) << 2;
  bool p = h1(insn, 8, 8), u = h1(insn, 7, 7), w = h1(insn, 5, 5);
  if (op.rn == 15 && w) return false;
  op.flags = uint8_t((p ? kIndex : 0) | (u ? kAdd : 0) | (w ? kWriteBack : 0));
  return true;
}

bool fStoreDual(uint32_t insn, uint32_t pc, Op& op) {
  return h1(insn, 3, 0) != 15 && fDual(insn, pc, op);
}

// LDM/STM: the list in hw2, W in hw1 bit 5. A base written back that is also in the list has
// no sensible result: undefined (the other UNPREDICTABLE lists run as the pseudo-code reads).
bool fMultiple(uint32_t insn, uint32_t, Op& op) {
  op.rn = reg(h1(insn, 3, 0));
  op.imm = h2(insn, 15, 0);
  op.flags = h1(insn, 5, 5) ? kWriteBack : 0;
  return op.rn != 15 && !((op.flags & kWriteBack) && ((op.imm >> op.rn) & 1));
}

// LDREX: Rt, imm8 * 4. STREX: Rd (status) in hw2[11:8], Rt to rm, imm8 * 4. The PC as any of
// the registers, SP as data or status, or a status register that is also the address or the
// data, has no meaning for an exclusive access: undefined.
bool dataRegister(uint8_t r) { return r != 13 && r != 15; }
bool fLoadExclusive(uint32_t insn, uint32_t, Op& op) {
  op.rn = reg(h1(insn, 3, 0)), op.rd = reg(h2(insn, 15, 12));
  op.imm = h2(insn, 7, 0) << 2;
  return op.rn != 15 && dataRegister(op.rd);
}
bool fStoreExclusive(uint32_t insn, uint32_t, Op& op) {
  op.rn = reg(h1(insn, 3, 0)), op.rm = reg(h2(insn, 15, 12)), op.rd = reg(h2(insn, 11, 8));
  op.imm = h2(insn, 7, 0) << 2;
  return op.rn != 15 && dataRegister(op.rm) && dataRegister(op.rd) && op.rd != op.rn && op.rd != op.rm;
}
// LDREXB/H: Rt, no offset. STREXB/H: Rd (status) in hw2[3:0], Rt to rm.
bool fLoadExclusiveNarrow(uint32_t insn, uint32_t, Op& op) {
  op.rn = reg(h1(insn, 3, 0)), op.rd = reg(h2(insn, 15, 12));
  return op.rn != 15 && dataRegister(op.rd);
}
bool fStoreExclusiveNarrow(uint32_t insn, uint32_t, Op& op) {
  op.rn = reg(h1(insn, 3, 0)), op.rm = reg(h2(insn, 15, 12)), op.rd = reg(h2(insn, 3, 0));
  return op.rn != 15 && dataRegister(op.rm) && dataRegister(op.rd) && op.rd != op.rn && op.rd != op.rm;
}

// ---- the encoding table ----
struct Pattern { uint32_t mask, value; };

// '0' and '1' are fixed bits; any other letter is a field; spaces only group. 32 bits, hw1 first.
consteval Pattern pat(const char* s) {
  uint32_t mask = 0, value = 0;
  int bits = 0;
  for (; *s; ++s) {
    if (*s == ' ') continue;
    mask <<= 1, value <<= 1, ++bits;
    if (*s == '0') mask |= 1;
    else if (*s == '1') mask |= 1, value |= 1;
  }
  if (bits != 32) throw "an encoding pattern has 32 bits";
  return {mask, value};
}

struct Encoding {
  Pattern pattern;
  Form form;
  Handler fn;
  uint8_t cycles;
};

// clang-format off
constexpr Encoding kEncodings[] = {
  // Data processing (modified immediate):      hw1 11110 i 0 op S Rn    hw2 0 imm3 Rd imm8
  {pat("11110 x 0 0000 1 nnnn  0 xxx 1111 xxxxxxxx"), fModImm, logical<Logic::Tst, true>, 1},
  {pat("11110 x 0 0000 x nnnn  0 xxx dddd xxxxxxxx"), fModImm, logical<Logic::And, true>, 1},
  {pat("11110 x 0 0001 x nnnn  0 xxx dddd xxxxxxxx"), fModImm, logical<Logic::Bic, true>, 1},
  {pat("11110 x 0 0010 x 1111  0 xxx dddd xxxxxxxx"), fModImm, logical<Logic::Mov, true>, 1},
  {pat("11110 x 0 0010 x nnnn  0 xxx dddd xxxxxxxx"), fModImm, logical<Logic::Orr, true>, 1},
  {pat("11110 x 0 0011 x 1111  0 xxx dddd xxxxxxxx"), fModImm, logical<Logic::Mvn, true>, 1},
  {pat("11110 x 0 0011 x nnnn  0 xxx dddd xxxxxxxx"), fModImm, logical<Logic::Orn, true>, 1},
  {pat("11110 x 0 0100 1 nnnn  0 xxx 1111 xxxxxxxx"), fModImm, logical<Logic::Teq, true>, 1},
  {pat("11110 x 0 0100 x nnnn  0 xxx dddd xxxxxxxx"), fModImm, logical<Logic::Eor, true>, 1},
  {pat("11110 x 0 1000 1 nnnn  0 xxx 1111 xxxxxxxx"), fModImm, arith<Arith::Cmn, true>, 1},
  {pat("11110 x 0 1000 x nnnn  0 xxx dddd xxxxxxxx"), fModImm, arith<Arith::Add, true>, 1},
  {pat("11110 x 0 1010 x nnnn  0 xxx dddd xxxxxxxx"), fModImm, arith<Arith::Adc, true>, 1},
  {pat("11110 x 0 1011 x nnnn  0 xxx dddd xxxxxxxx"), fModImm, arith<Arith::Sbc, true>, 1},
  {pat("11110 x 0 1101 1 nnnn  0 xxx 1111 xxxxxxxx"), fModImm, arith<Arith::Cmp, true>, 1},
  {pat("11110 x 0 1101 x nnnn  0 xxx dddd xxxxxxxx"), fModImm, arith<Arith::Sub, true>, 1},
  {pat("11110 x 0 1110 x nnnn  0 xxx dddd xxxxxxxx"), fModImm, arith<Arith::Rsb, true>, 1},

  // Data processing (plain binary immediate):  hw1 11110 i 1 op Rn      hw2 0 imm3 Rd imm8
  {pat("11110 x 1 0000 0 1111  0 xxx dddd xxxxxxxx"), fAdr, movImm, 1},
  {pat("11110 x 1 0000 0 nnnn  0 xxx dddd xxxxxxxx"), fImm12, arith<Arith::Add, true>, 1},
  {pat("11110 x 1 0010 0 iiii  0 xxx dddd xxxxxxxx"), fImm16, movImm, 1},
  {pat("11110 x 1 0101 0 1111  0 xxx dddd xxxxxxxx"), fAdr, movImm, 1},
  {pat("11110 x 1 0101 0 nnnn  0 xxx dddd xxxxxxxx"), fImm12, arith<Arith::Sub, true>, 1},
  {pat("11110 x 1 0110 0 iiii  0 xxx dddd xxxxxxxx"), fImm16, movt, 1},
  {pat("11110 0 1 100x 0 nnnn  0 xxx dddd xx0xxxxx"), fSaturate<true>, saturate<true>, 1},
  {pat("11110 0 1 1010 0 nnnn  0 xxx dddd xx0xxxxx"), fBitExtract, bitExtract<true>, 1},
  {pat("11110 0 1 1011 0 1111  0 xxx dddd xx0xxxxx"), fBitInsert, bitInsert<true>, 1},
  {pat("11110 0 1 1011 0 nnnn  0 xxx dddd xx0xxxxx"), fBitInsert, bitInsert<false>, 1},
  {pat("11110 0 1 110x 0 nnnn  0 xxx dddd xx0xxxxx"), fSaturate<false>, saturate<false>, 1},
  {pat("11110 0 1 1110 0 nnnn  0 xxx dddd xx0xxxxx"), fBitExtract, bitExtract<false>, 1},

  // Branches and miscellaneous control:        hw1 11110 ...            hw2 1 op1 ...
  {pat("11110 0 1110 0 0 nnnn  10 0 0 xx 00 ssssssss"), fMsr, msr, 2},
  {pat("11110 0 1111 1 0 1111  10 0 0 dddd ssssssss"), fMrs, mrs, 1},
  {pat("11110 0 1110 1 0 1111  10 0 0 0 000 00000000"), fNone, nop, 1},        // NOP
  {pat("11110 0 1110 1 0 1111  10 0 0 0 000 00000001"), fNone, nop, 1},        // YIELD
  {pat("11110 0 1110 1 0 1111  10 0 0 0 000 00000010"), fNone, wfe, 1},        // WFE
  {pat("11110 0 1110 1 0 1111  10 0 0 0 000 00000011"), fNone, wfi, 1},        // WFI
  {pat("11110 0 1110 1 0 1111  10 0 0 0 000 00000100"), fNone, nop, 1},        // SEV
  {pat("11110 0 1110 1 0 1111  10 0 0 0 000 1111xxxx"), fNone, nop, 1},        // DBG
  {pat("11110 0 1110 1 0 1111  10 0 0 0 000 xxxxxxxx"), fNone, nop, 1},        // unallocated hints
  {pat("11110 0 1110 1 1 1111  10 0 0 1111 0010 xxxx"), fNone, clrex, 1},
  {pat("11110 0 1110 1 1 1111  10 0 0 1111 0100 xxxx"), fNone, nop, 1},        // DSB
  {pat("11110 0 1110 1 1 1111  10 0 0 1111 0101 xxxx"), fNone, nop, 1},        // DMB
  {pat("11110 0 1110 1 1 1111  10 0 0 1111 0110 xxxx"), fNone, isb, 1},
  {pat("11110 x 111x xx xxxx  10 x 0 xxxxxxxxxxxx"), nullptr, undefined, 1},  // the rest of cond 111x
  {pat("11110 x cccc xxxxxx  10 x 0 x xxxxxxxxxxx"), fBranchCond, branchCond, 1},
  {pat("11110 x xxxxxxxxxx   10 x 1 x xxxxxxxxxxx"), fBranch, branch, 1},
  {pat("11110 x xxxxxxxxxx   11 x 1 x xxxxxxxxxxx"), fBranch, branchLink, 1},

  // Load/store multiple:                       hw1 1110100 op 0 W L Rn  hw2 register list
  {pat("1110100 01 0 x 0 nnnn  xxxxxxxxxxxxxxxx"), fMultiple, storeMultiple<false>, 1},
  {pat("1110100 01 0 x 1 nnnn  xxxxxxxxxxxxxxxx"), fMultiple, loadMultiple<false>, 1},
  {pat("1110100 10 0 x 0 nnnn  xxxxxxxxxxxxxxxx"), fMultiple, storeMultiple<true>, 1},
  {pat("1110100 10 0 x 1 nnnn  xxxxxxxxxxxxxxxx"), fMultiple, loadMultiple<true>, 1},

  // Load/store dual or exclusive, table branch: hw1 1110100 P U 1 W L Rn
  {pat("1110100 0 0 1 0 0 nnnn  tttt dddd iiiiiiii"), fStoreExclusive, storeExclusive<4>, 2},
  {pat("1110100 0 0 1 0 1 nnnn  tttt 1111 iiiiiiii"), fLoadExclusive, loadExclusive<4>, 2},
  {pat("1110100 0 1 1 0 0 nnnn  tttt 1111 0100 dddd"), fStoreExclusiveNarrow, storeExclusive<1>, 2},
  {pat("1110100 0 1 1 0 0 nnnn  tttt 1111 0101 dddd"), fStoreExclusiveNarrow, storeExclusive<2>, 2},
  {pat("1110100 0 1 1 0 1 nnnn  1111 0000 0000 mmmm"), fRegs, tableBranch<false>, 2},
  {pat("1110100 0 1 1 0 1 nnnn  1111 0000 0001 mmmm"), fRegs, tableBranch<true>, 2},
  {pat("1110100 0 1 1 0 1 nnnn  tttt 1111 0100 1111"), fLoadExclusiveNarrow, loadExclusive<1>, 2},
  {pat("1110100 0 1 1 0 1 nnnn  tttt 1111 0101 1111"), fLoadExclusiveNarrow, loadExclusive<2>, 2},
  {pat("1110100 1 x 1 x 0 nnnn  tttt TTTT iiiiiiii"), fStoreDual, storeDual, 3},
  {pat("1110100 0 x 1 1 0 nnnn  tttt TTTT iiiiiiii"), fStoreDual, storeDual, 3},
  {pat("1110100 1 x 1 x 1 nnnn  tttt TTTT iiiiiiii"), fDual, loadDual, 3},
  {pat("1110100 0 x 1 1 1 nnnn  tttt TTTT iiiiiiii"), fDual, loadDual, 3},

  // Data processing (shifted register):        hw1 1110101 op S Rn      hw2 0 imm3 Rd imm2 type Rm
  {pat("1110101 0000 1 nnnn  0 xxx 1111 xx tt mmmm"), fShiftedReg, logical<Logic::Tst, false>, 1},
  {pat("1110101 0000 x nnnn  0 xxx dddd xx tt mmmm"), fShiftedReg, logical<Logic::And, false>, 1},
  {pat("1110101 0001 x nnnn  0 xxx dddd xx tt mmmm"), fShiftedReg, logical<Logic::Bic, false>, 1},
  {pat("1110101 0010 x 1111  0 xxx dddd xx tt mmmm"), fShiftedReg, logical<Logic::Mov, false>, 1},
  {pat("1110101 0010 x nnnn  0 xxx dddd xx tt mmmm"), fShiftedReg, logical<Logic::Orr, false>, 1},
  {pat("1110101 0011 x 1111  0 xxx dddd xx tt mmmm"), fShiftedReg, logical<Logic::Mvn, false>, 1},
  {pat("1110101 0011 x nnnn  0 xxx dddd xx tt mmmm"), fShiftedReg, logical<Logic::Orn, false>, 1},
  {pat("1110101 0100 1 nnnn  0 xxx 1111 xx tt mmmm"), fShiftedReg, logical<Logic::Teq, false>, 1},
  {pat("1110101 0100 x nnnn  0 xxx dddd xx tt mmmm"), fShiftedReg, logical<Logic::Eor, false>, 1},
  {pat("1110101 1000 1 nnnn  0 xxx 1111 xx tt mmmm"), fShiftedReg, arith<Arith::Cmn, false>, 1},
  {pat("1110101 1000 x nnnn  0 xxx dddd xx tt mmmm"), fShiftedReg, arith<Arith::Add, false>, 1},
  {pat("1110101 1010 x nnnn  0 xxx dddd xx tt mmmm"), fShiftedReg, arith<Arith::Adc, false>, 1},
  {pat("1110101 1011 x nnnn  0 xxx dddd xx tt mmmm"), fShiftedReg, arith<Arith::Sbc, false>, 1},
  {pat("1110101 1101 1 nnnn  0 xxx 1111 xx tt mmmm"), fShiftedReg, arith<Arith::Cmp, false>, 1},
  {pat("1110101 1101 x nnnn  0 xxx dddd xx tt mmmm"), fShiftedReg, arith<Arith::Sub, false>, 1},
  {pat("1110101 1110 x nnnn  0 xxx dddd xx tt mmmm"), fShiftedReg, arith<Arith::Rsb, false>, 1},

  // Coprocessor space (hw1 111x11...): the M3 has no coprocessor.
  {pat("111 x 11 xxxxxxxxxx  xxxxxxxxxxxxxxxx"), nullptr, noCoprocessor, 1},

  // Stores (Rn = 1111 is undefined):           hw1 11111000 imm12? size 0 Rn
  {pat("11111000 x xx 0 1111  xxxxxxxxxxxxxxxx"), nullptr, undefined, 1},
  {pat("11111000 1 00 0 nnnn  tttt iiiiiiiiiiii"), fImmOffset12, store<1>, 1},
  {pat("11111000 1 01 0 nnnn  tttt iiiiiiiiiiii"), fImmOffset12, store<2>, 1},
  {pat("11111000 1 10 0 nnnn  tttt iiiiiiiiiiii"), fImmOffset12, store<4>, 1},
  {pat("11111000 0 00 0 nnnn  tttt 1110 iiiiiiii"), fImmOffsetT, store<1>, 1},
  {pat("11111000 0 01 0 nnnn  tttt 1110 iiiiiiii"), fImmOffsetT, store<2>, 1},
  {pat("11111000 0 10 0 nnnn  tttt 1110 iiiiiiii"), fImmOffsetT, store<4>, 1},
  {pat("11111000 0 00 0 nnnn  tttt 1 PUW iiiiiiii"), fImmOffset8, store<1>, 1},
  {pat("11111000 0 01 0 nnnn  tttt 1 PUW iiiiiiii"), fImmOffset8, store<2>, 1},
  {pat("11111000 0 10 0 nnnn  tttt 1 PUW iiiiiiii"), fImmOffset8, store<4>, 1},
  {pat("11111000 0 00 0 nnnn  tttt 000000 ss mmmm"), fRegOffset, store<1>, 2},
  {pat("11111000 0 01 0 nnnn  tttt 000000 ss mmmm"), fRegOffset, store<2>, 2},
  {pat("11111000 0 10 0 nnnn  tttt 000000 ss mmmm"), fRegOffset, store<4>, 2},

  // Loads:                                     hw1 1111100 S U size 1 Rn
  // Byte and halfword loads to the PC are the memory hints (PLD, PLI, unallocated): no-ops here,
  // in the forms without write-back; the others are undefined.
  {pat("1111100 x x 0x 1 1111  1111 xxxxxxxxxxxx"), fNone, nop, 1},
  {pat("1111100 x 1 0x 1 nnnn  1111 xxxxxxxxxxxx"), fNone, nop, 1},
  {pat("1111100 x 0 0x 1 nnnn  1111 1100 xxxxxxxx"), fNone, nop, 1},
  {pat("1111100 x 0 0x 1 nnnn  1111 000000 xx xxxx"), fNone, nop, 1},
  {pat("1111100 x x 0x 1 nnnn  1111 xxxxxxxxxxxx"), nullptr, undefined, 1},
  {pat("1111100 0 x 00 1 1111  tttt iiiiiiiiiiii"), fLiteral, load<1, false>, 2},
  {pat("1111100 0 x 01 1 1111  tttt iiiiiiiiiiii"), fLiteral, load<2, false>, 2},
  {pat("1111100 0 x 10 1 1111  tttt iiiiiiiiiiii"), fLiteral, load<4, false>, 2},
  {pat("1111100 1 x 00 1 1111  tttt iiiiiiiiiiii"), fLiteral, load<1, true>, 2},
  {pat("1111100 1 x 01 1 1111  tttt iiiiiiiiiiii"), fLiteral, load<2, true>, 2},
  {pat("1111100 0 1 00 1 nnnn  tttt iiiiiiiiiiii"), fImmOffset12, load<1, false>, 2},
  {pat("1111100 0 1 01 1 nnnn  tttt iiiiiiiiiiii"), fImmOffset12, load<2, false>, 2},
  {pat("1111100 0 1 10 1 nnnn  tttt iiiiiiiiiiii"), fImmOffset12, load<4, false>, 2},
  {pat("1111100 1 1 00 1 nnnn  tttt iiiiiiiiiiii"), fImmOffset12, load<1, true>, 2},
  {pat("1111100 1 1 01 1 nnnn  tttt iiiiiiiiiiii"), fImmOffset12, load<2, true>, 2},
  {pat("1111100 0 0 00 1 nnnn  tttt 1110 iiiiiiii"), fImmOffsetT, load<1, false>, 2},
  {pat("1111100 0 0 01 1 nnnn  tttt 1110 iiiiiiii"), fImmOffsetT, load<2, false>, 2},
  {pat("1111100 0 0 10 1 nnnn  tttt 1110 iiiiiiii"), fImmOffsetT, load<4, false>, 2},
  {pat("1111100 1 0 00 1 nnnn  tttt 1110 iiiiiiii"), fImmOffsetT, load<1, true>, 2},
  {pat("1111100 1 0 01 1 nnnn  tttt 1110 iiiiiiii"), fImmOffsetT, load<2, true>, 2},
  {pat("1111100 0 0 00 1 nnnn  tttt 1 PUW iiiiiiii"), fImmOffset8, load<1, false>, 2},
  {pat("1111100 0 0 01 1 nnnn  tttt 1 PUW iiiiiiii"), fImmOffset8, load<2, false>, 2},
  {pat("1111100 0 0 10 1 nnnn  tttt 1 PUW iiiiiiii"), fImmOffset8, load<4, false>, 2},
  {pat("1111100 1 0 00 1 nnnn  tttt 1 PUW iiiiiiii"), fImmOffset8, load<1, true>, 2},
  {pat("1111100 1 0 01 1 nnnn  tttt 1 PUW iiiiiiii"), fImmOffset8, load<2, true>, 2},
  {pat("1111100 0 0 00 1 nnnn  tttt 000000 ss mmmm"), fRegOffset, load<1, false>, 2},
  {pat("1111100 0 0 01 1 nnnn  tttt 000000 ss mmmm"), fRegOffset, load<2, false>, 2},
  {pat("1111100 0 0 10 1 nnnn  tttt 000000 ss mmmm"), fRegOffset, load<4, false>, 2},
  {pat("1111100 1 0 00 1 nnnn  tttt 000000 ss mmmm"), fRegOffset, load<1, true>, 2},
  {pat("1111100 1 0 01 1 nnnn  tttt 000000 ss mmmm"), fRegOffset, load<2, true>, 2},

  // Data processing (register):                hw1 11111010 op1 Rn      hw2 1111 Rd op2 Rm
  {pat("11111010 0 00 x nnnn  1111 dddd 0000 mmmm"), fRegs, shiftByRegister<kLsl>, 1},
  {pat("11111010 0 01 x nnnn  1111 dddd 0000 mmmm"), fRegs, shiftByRegister<kLsr>, 1},
  {pat("11111010 0 10 x nnnn  1111 dddd 0000 mmmm"), fRegs, shiftByRegister<kAsr>, 1},
  {pat("11111010 0 11 x nnnn  1111 dddd 0000 mmmm"), fRegs, shiftByRegister<kRor>, 1},
  {pat("11111010 0000 1111  1111 dddd 10 rr mmmm"), fExtend, extend<true, true>, 1},    // SXTH
  {pat("11111010 0001 1111  1111 dddd 10 rr mmmm"), fExtend, extend<false, true>, 1},   // UXTH
  {pat("11111010 0100 1111  1111 dddd 10 rr mmmm"), fExtend, extend<true, false>, 1},   // SXTB
  {pat("11111010 0101 1111  1111 dddd 10 rr mmmm"), fExtend, extend<false, false>, 1},  // UXTB
  {pat("11111010 1001 mmmm  1111 dddd 1000 mmmm"), fRegs, rev, 1},
  {pat("11111010 1001 mmmm  1111 dddd 1001 mmmm"), fRegs, rev16, 1},
  {pat("11111010 1001 mmmm  1111 dddd 1010 mmmm"), fRegs, rbit, 1},
  {pat("11111010 1001 mmmm  1111 dddd 1011 mmmm"), fRegs, revsh, 1},
  {pat("11111010 1011 mmmm  1111 dddd 1000 mmmm"), fRegs, clz, 1},

  // Multiply, multiply accumulate:             hw1 111110110 op1 Rn     hw2 Ra Rd op2 Rm
  {pat("111110110 000 nnnn  1111 dddd 0000 mmmm"), fRegs, mul, 1},
  {pat("111110110 000 nnnn  aaaa dddd 0000 mmmm"), fRegs, mla, 2},
  {pat("111110110 000 nnnn  aaaa dddd 0001 mmmm"), fRegs, mls, 2},

  // Long multiply, divide:                     hw1 111110111 op1 Rn     hw2 RdLo RdHi op2 Rm
  {pat("111110111 000 nnnn  llll hhhh 0000 mmmm"), fRegs, multiplyLong<true, false>, 3},
  {pat("111110111 001 nnnn  1111 dddd 1111 mmmm"), fRegs, divide<true>, 2},
  {pat("111110111 010 nnnn  llll hhhh 0000 mmmm"), fRegs, multiplyLong<false, false>, 3},
  {pat("111110111 011 nnnn  1111 dddd 1111 mmmm"), fRegs, divide<false>, 2},
  {pat("111110111 100 nnnn  llll hhhh 0000 mmmm"), fRegs, multiplyLong<true, true>, 3},
  {pat("111110111 110 nnnn  llll hhhh 0000 mmmm"), fRegs, multiplyLong<false, true>, 3},
};
// clang-format on

}  // namespace

bool decode32(uint16_t hw1, uint16_t hw2, uint32_t pc, Op& op) {
  op = Op{};
  op.raw = uint32_t(hw1) | uint32_t(hw2) << 16;
  op.len = 4;
  op.fn = undefined;
  uint32_t insn = uint32_t(hw1) << 16 | hw2;
  for (const Encoding& e : kEncodings) {
    if ((insn & e.pattern.mask) != e.pattern.value) continue;
    op.fn = e.fn;
    op.cycles = e.cycles;
    if (e.form && e.form(insn, pc, op)) return true;
    // The coprocessor row keeps its NOCP handler; a form that refuses its fields and the
    // explicit undefined rows leave UNDEFINSTR.
    if (e.fn != noCoprocessor) op.fn = undefined;
    return false;
  }
  return false;
}

}  // namespace korvel::sim::armv7m
