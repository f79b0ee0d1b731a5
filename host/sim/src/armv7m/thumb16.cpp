// The 16-bit Thumb encodings of the Cortex-M3: decode16() and their handlers.
//
// Decoding resolves everything known from the encoding and its address (PC-relative targets,
// immediates, shift types), so a handler does only the work that depends on the registers.
#include "core.h"

namespace korvel::sim::armv7m {

namespace {

constexpr uint8_t kNonZero = 32;  // CBNZ (else CBZ)

inline void refill(Core& c) { c.addExtraCycles(Core::kBranchRefill); }

inline void setNzc(Core& c, uint32_t v, bool carry) {
  c.setNz(v);
  c.c_ = carry;
}

// ---- shifts, add, subtract, move, compare ----
void shiftImm(Core& c, const Op& op) {
  ResultCarry r = shiftC(c.r_[op.rm], op.shiftType, op.shiftN, c.c_);
  c.r_[op.rd] = r.value;
  if (c.setFlagsFor(op)) setNzc(c, r.value, r.carry);
}
void addRegs(Core& c, const Op& op) {  // ADDS Rd, Rn, Rm
  AddResult r = addWithCarry(c.r_[op.rn], c.r_[op.rm], false);
  c.r_[op.rd] = r.value;
  if (c.setFlagsFor(op)) c.setNz(r.value), c.c_ = r.carry, c.v_ = r.overflow;
}
void subRegs(Core& c, const Op& op) {
  AddResult r = addWithCarry(c.r_[op.rn], ~c.r_[op.rm], true);
  c.r_[op.rd] = r.value;
  if (c.setFlagsFor(op)) c.setNz(r.value), c.c_ = r.carry, c.v_ = r.overflow;
}
void addImm(Core& c, const Op& op) {
  AddResult r = addWithCarry(c.r_[op.rn], op.imm, false);
  c.r_[op.rd] = r.value;
  if (c.setFlagsFor(op)) c.setNz(r.value), c.c_ = r.carry, c.v_ = r.overflow;
}
void subImm(Core& c, const Op& op) {
  AddResult r = addWithCarry(c.r_[op.rn], ~op.imm, true);
  c.r_[op.rd] = r.value;
  if (c.setFlagsFor(op)) c.setNz(r.value), c.c_ = r.carry, c.v_ = r.overflow;
}
void movImm(Core& c, const Op& op) {
  c.r_[op.rd] = op.imm;
  if (c.setFlagsFor(op)) c.setNz(op.imm);
}
void cmpImm(Core& c, const Op& op) {
  AddResult r = addWithCarry(c.r_[op.rn], ~op.imm, true);
  c.setNz(r.value), c.c_ = r.carry, c.v_ = r.overflow;
}

// ---- data processing (Rdn, Rm) ----
void andReg(Core& c, const Op& op) {
  uint32_t v = c.r_[op.rd] & c.r_[op.rm];
  c.r_[op.rd] = v;
  if (c.setFlagsFor(op)) c.setNz(v);
}
void eorReg(Core& c, const Op& op) {
  uint32_t v = c.r_[op.rd] ^ c.r_[op.rm];
  c.r_[op.rd] = v;
  if (c.setFlagsFor(op)) c.setNz(v);
}
void orrReg(Core& c, const Op& op) {
  uint32_t v = c.r_[op.rd] | c.r_[op.rm];
  c.r_[op.rd] = v;
  if (c.setFlagsFor(op)) c.setNz(v);
}
void bicReg(Core& c, const Op& op) {
  uint32_t v = c.r_[op.rd] & ~c.r_[op.rm];
  c.r_[op.rd] = v;
  if (c.setFlagsFor(op)) c.setNz(v);
}
void mvnReg(Core& c, const Op& op) {
  uint32_t v = ~c.r_[op.rm];
  c.r_[op.rd] = v;
  if (c.setFlagsFor(op)) c.setNz(v);
}
void tstReg(Core& c, const Op& op) { c.setNz(c.r_[op.rn] & c.r_[op.rm]); }
void shiftReg(Core& c, const Op& op) {  // LSL/LSR/ASR/ROR Rdn, Rm: the amount is Rm[7:0]
  ResultCarry r = shiftC(c.r_[op.rd], op.shiftType, c.r_[op.rm] & 0xFF, c.c_);
  c.r_[op.rd] = r.value;
  if (c.setFlagsFor(op)) setNzc(c, r.value, r.carry);
}
void adcReg(Core& c, const Op& op) {
  AddResult r = addWithCarry(c.r_[op.rd], c.r_[op.rm], c.c_);
  c.r_[op.rd] = r.value;
  if (c.setFlagsFor(op)) c.setNz(r.value), c.c_ = r.carry, c.v_ = r.overflow;
}
void sbcReg(Core& c, const Op& op) {
  AddResult r = addWithCarry(c.r_[op.rd], ~c.r_[op.rm], c.c_);
  c.r_[op.rd] = r.value;
  if (c.setFlagsFor(op)) c.setNz(r.value), c.c_ = r.carry, c.v_ = r.overflow;
}
void rsbZero(Core& c, const Op& op) {  // NEGS Rd, Rn
  AddResult r = addWithCarry(~c.r_[op.rn], 0, true);
  c.r_[op.rd] = r.value;
  if (c.setFlagsFor(op)) c.setNz(r.value), c.c_ = r.carry, c.v_ = r.overflow;
}
void cmpReg(Core& c, const Op& op) {  // low registers
  AddResult r = addWithCarry(c.r_[op.rn], ~c.r_[op.rm], true);
  c.setNz(r.value), c.c_ = r.carry, c.v_ = r.overflow;
}
void cmpHigh(Core& c, const Op& op) {  // CMP with a high register: the PC reads as an operand
  AddResult r = addWithCarry(c.get(op.rn), ~c.get(op.rm), true);
  c.setNz(r.value), c.c_ = r.carry, c.v_ = r.overflow;
}
void cmnReg(Core& c, const Op& op) {
  AddResult r = addWithCarry(c.r_[op.rn], c.r_[op.rm], false);
  c.setNz(r.value), c.c_ = r.carry, c.v_ = r.overflow;
}
void mulReg(Core& c, const Op& op) {
  uint32_t v = c.r_[op.rd] * c.r_[op.rm];
  c.r_[op.rd] = v;
  if (c.setFlagsFor(op)) c.setNz(v);
}

// ---- high registers, branch and exchange ----
void addHigh(Core& c, const Op& op) {
  c.writeReg(op.rd, c.get(op.rd) + c.get(op.rm));
  if (op.rd == 15) refill(c);
}
void movHigh(Core& c, const Op& op) {
  c.writeReg(op.rd, c.get(op.rm));
  if (op.rd == 15) refill(c);
}
void bx(Core& c, const Op& op) {
  c.bxWritePc(c.get(op.rm));
  refill(c);
}
void blx(Core& c, const Op& op) {
  uint32_t target = c.get(op.rm);
  c.r_[14] = (c.pc_ + op.len) | 1;
  c.bxWritePc(target);
  refill(c);
}

// ---- loads and stores ----
void ldrLiteral(Core& c, const Op& op) {
  uint32_t v = c.read32(op.imm);
  if (!c.faulted()) c.r_[op.rd] = v;
}
void adr(Core& c, const Op& op) { c.r_[op.rd] = op.imm; }
void addRegImm(Core& c, const Op& op) { c.r_[op.rd] = c.r_[op.rn] + op.imm; }  // ADD Rd, SP, #imm; ADD/SUB SP

void strReg(Core& c, const Op& op) { c.write32(c.r_[op.rn] + c.r_[op.rm], c.r_[op.rd]); }
void strhReg(Core& c, const Op& op) { c.write16(c.r_[op.rn] + c.r_[op.rm], c.r_[op.rd]); }
void strbReg(Core& c, const Op& op) { c.write8(c.r_[op.rn] + c.r_[op.rm], c.r_[op.rd]); }
void ldrReg(Core& c, const Op& op) {
  uint32_t v = c.read32(c.r_[op.rn] + c.r_[op.rm]);
  if (!c.faulted()) c.r_[op.rd] = v;
}
void ldrhReg(Core& c, const Op& op) {
  uint32_t v = c.read16(c.r_[op.rn] + c.r_[op.rm]);
  if (!c.faulted()) c.r_[op.rd] = v;
}
void ldrbReg(Core& c, const Op& op) {
  uint32_t v = c.read8(c.r_[op.rn] + c.r_[op.rm]);
  if (!c.faulted()) c.r_[op.rd] = v;
}
void ldrsbReg(Core& c, const Op& op) {
  uint32_t v = c.read8(c.r_[op.rn] + c.r_[op.rm]);
  if (!c.faulted()) c.r_[op.rd] = uint32_t(int32_t(int8_t(v)));
}
void ldrshReg(Core& c, const Op& op) {
  uint32_t v = c.read16(c.r_[op.rn] + c.r_[op.rm]);
  if (!c.faulted()) c.r_[op.rd] = uint32_t(int32_t(int16_t(v)));
}
void strImm(Core& c, const Op& op) { c.write32(c.r_[op.rn] + op.imm, c.r_[op.rd]); }
void strhImm(Core& c, const Op& op) { c.write16(c.r_[op.rn] + op.imm, c.r_[op.rd]); }
void strbImm(Core& c, const Op& op) { c.write8(c.r_[op.rn] + op.imm, c.r_[op.rd]); }
void ldrImm(Core& c, const Op& op) {
  uint32_t v = c.read32(c.r_[op.rn] + op.imm);
  if (!c.faulted()) c.r_[op.rd] = v;
}
void ldrhImm(Core& c, const Op& op) {
  uint32_t v = c.read16(c.r_[op.rn] + op.imm);
  if (!c.faulted()) c.r_[op.rd] = v;
}
void ldrbImm(Core& c, const Op& op) {
  uint32_t v = c.read8(c.r_[op.rn] + op.imm);
  if (!c.faulted()) c.r_[op.rd] = v;
}

// ---- load and store multiple ----
// Registers change only once every access went through, so a fault leaves them as they were.
void push(Core& c, const Op& op) {
  uint32_t list = op.imm;
  uint32_t address = c.r_[13] - 4 * uint32_t(__builtin_popcount(list));
  uint32_t a = address;
  for (int r = 0; r < 15; ++r) {
    if (!(list >> r & 1)) continue;
    c.write32Aligned(a, c.r_[r]);
    if (c.faulted()) return;
    a += 4;
  }
  c.r_[13] = address;
  c.addExtraCycles(uint32_t(__builtin_popcount(list)));
}
void stm(Core& c, const Op& op) {
  uint32_t a = c.r_[op.rn], list = op.imm;
  for (int r = 0; r < 8; ++r) {
    if (!(list >> r & 1)) continue;
    c.write32Aligned(a, c.r_[r]);
    if (c.faulted()) return;
    a += 4;
  }
  c.r_[op.rn] = a;
  c.addExtraCycles(uint32_t(__builtin_popcount(list)));
}
void ldmList(Core& c, uint32_t base, uint32_t list, int rn, bool writeBack) {
  uint32_t values[16];
  uint32_t a = base;
  for (int r = 0; r < 16; ++r) {
    if (!(list >> r & 1)) continue;
    values[r] = c.read32Aligned(a);
    if (c.faulted()) return;
    a += 4;
  }
  if (writeBack) c.r_[rn] = a;
  for (int r = 0; r < 15; ++r)
    if (list >> r & 1) c.r_[r] = values[r];
  c.addExtraCycles(uint32_t(__builtin_popcount(list)));
  if (list >> 15 & 1) c.loadWritePc(values[15]), refill(c);
}
void pop(Core& c, const Op& op) { ldmList(c, c.r_[13], op.imm, 13, true); }
void ldm(Core& c, const Op& op) { ldmList(c, c.r_[op.rn], op.imm, op.rn, !(op.imm >> op.rn & 1)); }

// ---- miscellaneous ----
void cbz(Core& c, const Op& op) {
  if ((c.r_[op.rn] != 0) == ((op.flags & kNonZero) != 0)) c.branchTo(op.imm), refill(c);
}
void sxth(Core& c, const Op& op) { c.r_[op.rd] = uint32_t(int32_t(int16_t(c.r_[op.rm]))); }
void sxtb(Core& c, const Op& op) { c.r_[op.rd] = uint32_t(int32_t(int8_t(c.r_[op.rm]))); }
void uxth(Core& c, const Op& op) { c.r_[op.rd] = c.r_[op.rm] & 0xFFFF; }
void uxtb(Core& c, const Op& op) { c.r_[op.rd] = c.r_[op.rm] & 0xFF; }
void rev(Core& c, const Op& op) { c.r_[op.rd] = __builtin_bswap32(c.r_[op.rm]); }
void rev16(Core& c, const Op& op) {
  uint32_t v = c.r_[op.rm];
  c.r_[op.rd] = ((v & 0x00FF00FF) << 8) | ((v >> 8) & 0x00FF00FF);
}
void revsh(Core& c, const Op& op) {
  uint32_t v = c.r_[op.rm];
  c.r_[op.rd] = uint32_t(int32_t(int16_t(uint16_t(((v & 0xFF) << 8) | ((v >> 8) & 0xFF)))));
}
void cpsOp(Core& c, const Op& op) { c.cps(op.imm & 0x10, op.imm & 2, op.imm & 1); }
void bkptOp(Core& c, const Op& op) { c.bkpt(op.imm); }
void itOp(Core& c, const Op& op) { c.itState_ = uint8_t(op.imm), c.events_ |= Core::kEvIt; }
void nop(Core&, const Op&) {}
void wfiOp(Core& c, const Op&) { c.wfi(); }

// ---- branches ----
void bcond(Core& c, const Op& op) {
  if (c.conditionPassed(op.cond)) c.branchTo(op.imm), refill(c);
}
void b(Core& c, const Op& op) { c.branchTo(op.imm), refill(c); }
void svcOp(Core& c, const Op& op) { c.svc(op.imm); }

inline uint32_t signExtend(uint32_t v, int bits) { return uint32_t(int32_t(v << (32 - bits)) >> (32 - bits)); }

}  // namespace

bool decode16(uint16_t hw, uint32_t pc, Op& op) {
  op = Op{};
  op.raw = hw;
  op.len = 2;
  op.fn = undefined;
  auto set = [&](Handler fn) {
    op.fn = fn;
    return true;
  };
  // Single loads and stores: one cycle more than the rest (the address phase).
  auto memory = [&](Handler fn) {
    op.cycles = 2;
    return set(fn);
  };
  // A store with an immediate offset takes one cycle: its address is formed in that cycle and
  // its data phase overlaps the next instruction.
  auto immediate = [&](Handler load, Handler store) { return (hw & 0x800) ? memory(load) : set(store); };
  uint8_t lo0 = hw & 7, lo3 = (hw >> 3) & 7, lo6 = (hw >> 6) & 7, hi8 = (hw >> 8) & 7;
  switch (hw >> 12) {
    case 0x0: case 0x1: {
      uint32_t op5 = hw >> 11;
      if (op5 < 3) {  // LSL/LSR/ASR (immediate); LSL #0 is MOVS
        op.rd = lo0, op.rm = lo3, op.flags = kSetFlagsOutsideIt;
        decodeImmShift(op5, (hw >> 6) & 31, op.shiftType, op.shiftN);
        return set(shiftImm);
      }
      op.rd = lo0, op.rn = lo3, op.rm = lo6, op.imm = lo6, op.flags = kSetFlagsOutsideIt;
      switch ((hw >> 9) & 3) {
        case 0: return set(addRegs);
        case 1: return set(subRegs);
        case 2: return set(addImm);
        default: return set(subImm);
      }
    }
    case 0x2: case 0x3: {
      op.rd = op.rn = hi8, op.imm = hw & 0xFF, op.flags = kSetFlagsOutsideIt;
      switch ((hw >> 11) & 3) {
        case 0: return set(movImm);
        case 1: return set(cmpImm);
        case 2: return set(addImm);
        default: return set(subImm);
      }
    }
    case 0x4:
      if ((hw & 0xFC00) == 0x4000) {  // data processing
        op.rd = op.rn = lo0, op.rm = lo3, op.flags = kSetFlagsOutsideIt;
        switch ((hw >> 6) & 15) {
          case 0x0: return set(andReg);
          case 0x1: return set(eorReg);
          case 0x2: op.shiftType = kLsl; return set(shiftReg);
          case 0x3: op.shiftType = kLsr; return set(shiftReg);
          case 0x4: op.shiftType = kAsr; return set(shiftReg);
          case 0x5: return set(adcReg);
          case 0x6: return set(sbcReg);
          case 0x7: op.shiftType = kRor; return set(shiftReg);
          case 0x8: return set(tstReg);
          case 0x9: op.rn = lo3; return set(rsbZero);
          case 0xA: return set(cmpReg);
          case 0xB: return set(cmnReg);
          case 0xC: return set(orrReg);
          case 0xD: return set(mulReg);
          case 0xE: return set(bicReg);
          default: return set(mvnReg);
        }
      }
      if ((hw & 0xFC00) == 0x4400) {  // special data processing, branch and exchange
        op.rd = op.rn = uint8_t(((hw >> 4) & 8) | lo0);
        op.rm = (hw >> 3) & 15;
        switch ((hw >> 8) & 3) {
          case 0: return set(addHigh);
          case 1: return set(cmpHigh);
          case 2: return set(movHigh);
          default: return set((hw & 0x80) ? blx : bx);
        }
      }
      // LDR (literal): the address is known now.
      op.rd = hi8, op.imm = ((pc + 4) & ~3u) + (hw & 0xFF) * 4;
      return memory(ldrLiteral);
    case 0x5:
      op.rd = lo0, op.rn = lo3, op.rm = lo6;
      switch ((hw >> 9) & 7) {
        case 0: return memory(strReg);
        case 1: return memory(strhReg);
        case 2: return memory(strbReg);
        case 3: return memory(ldrsbReg);
        case 4: return memory(ldrReg);
        case 5: return memory(ldrhReg);
        case 6: return memory(ldrbReg);
        default: return memory(ldrshReg);
      }
    case 0x6:
      op.rd = lo0, op.rn = lo3, op.imm = ((hw >> 6) & 31) * 4;
      return immediate(ldrImm, strImm);
    case 0x7:
      op.rd = lo0, op.rn = lo3, op.imm = (hw >> 6) & 31;
      return immediate(ldrbImm, strbImm);
    case 0x8:
      op.rd = lo0, op.rn = lo3, op.imm = ((hw >> 6) & 31) * 2;
      return immediate(ldrhImm, strhImm);
    case 0x9:
      op.rd = hi8, op.rn = 13, op.imm = (hw & 0xFF) * 4;
      return immediate(ldrImm, strImm);
    case 0xA:
      op.rd = hi8, op.imm = (hw & 0xFF) * 4;
      if (hw & 0x800) {
        op.rn = 13;
        return set(addRegImm);
      }
      op.imm += (pc + 4) & ~3u;
      return set(adr);
    case 0xB:
      switch ((hw >> 8) & 15) {
        case 0x0:  // ADD/SUB SP, SP, #imm7
          op.rd = op.rn = 13, op.imm = (hw & 0x7F) * 4;
          if (hw & 0x80) op.imm = 0 - op.imm;
          return set(addRegImm);
        case 0x1: case 0x3: case 0x9: case 0xB:  // CBZ/CBNZ
          op.rn = lo0, op.imm = pc + 4 + ((((hw >> 9) & 1) << 6) | (((hw >> 3) & 31) << 1));
          op.flags = (hw & 0x800) ? kNonZero : 0;
          return set(cbz);
        case 0x2:
          op.rd = lo0, op.rm = lo3;
          switch ((hw >> 6) & 3) {
            case 0: return set(sxth);
            case 1: return set(sxtb);
            case 2: return set(uxth);
            default: return set(uxtb);
          }
        case 0x4: case 0x5:  // PUSH {list, LR}
          op.imm = (hw & 0xFF) | ((hw & 0x100) ? 1u << 14 : 0);
          if (!op.imm) return false;
          return set(push);
        case 0xC: case 0xD:  // POP {list, PC}
          op.imm = (hw & 0xFF) | ((hw & 0x100) ? 1u << 15 : 0);
          if (!op.imm) return false;
          return set(pop);
        case 0x6:
          if ((hw & 0xFFE8) == 0xB660) {  // CPSIE/CPSID
            op.imm = hw & 0x13;
            return set(cpsOp);
          }
          return false;
        case 0xA:
          op.rd = lo0, op.rm = lo3;
          switch ((hw >> 6) & 3) {
            case 0: return set(rev);
            case 1: return set(rev16);
            case 3: return set(revsh);
            default: return false;
          }
        case 0xE:
          op.imm = hw & 0xFF;
          return set(bkptOp);
        case 0xF:
          if (hw & 0xF) {  // IT
            op.imm = hw & 0xFF;
            if ((hw >> 4 & 15) == 15) return false;
            return set(itOp);
          }
          switch ((hw >> 4) & 15) {
            case 2: case 3: return set(wfiOp);  // WFE, WFI: sleep until an event
            default: return set(nop);           // NOP, YIELD, SEV and the unallocated hints
          }
        default: return false;
      }
    case 0xC:
      op.rn = hi8, op.imm = hw & 0xFF;
      if (!op.imm) return false;
      return set((hw & 0x800) ? ldm : stm);
    case 0xD: {
      uint32_t cond = (hw >> 8) & 15;
      if (cond == 14) return false;  // permanently undefined
      if (cond == 15) {
        op.imm = hw & 0xFF;
        return set(svcOp);
      }
      op.cond = uint8_t(cond);
      op.imm = pc + 4 + signExtend((hw & 0xFF) << 1, 9);
      return set(bcond);
    }
    case 0xE:
      if (hw & 0x800) return false;  // a 32-bit prefix: never decoded here
      op.imm = pc + 4 + signExtend((hw & 0x7FF) << 1, 12);
      return set(b);
    default:
      return false;
  }
}

}  // namespace korvel::sim::armv7m
