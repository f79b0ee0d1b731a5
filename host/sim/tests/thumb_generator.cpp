#include "thumb_generator.h"

namespace korvel::sim::lockstep {

const char* toString(Encodings c) {
  static const char* names[] = {"DataProcessing16", "ModifiedImmediate", "ShiftedRegister", "RegisterShifts",
                                "ItBlocks",         "LoadStore16",       "LoadStore32",     "LoadStoreMultiple",
                                "LoadStoreDual",    "Exclusive",         "MultiplyDivide",  "BitField",
                                "Saturate",         "Misc",              "Branches",        "System",
                                "Undefined"};
  return names[int(c)];
}

ThumbGenerator::ThumbGenerator(uint64_t seed, uint32_t base, uint32_t ramData, uint32_t ramDataSize, uint32_t busBase)
    : state_(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull), base_(base), ramData_(ramData),
      ramDataSize_(ramDataSize), busBase_(busBase) {}

uint64_t ThumbGenerator::next() {  // xorshift64*: the same sequence on every platform
  state_ ^= state_ >> 12;
  state_ ^= state_ << 25;
  state_ ^= state_ >> 27;
  return state_ * 0x2545F4914F6CDD1Dull;
}

uint32_t ThumbGenerator::interestingValue() {
  static const uint32_t edges[] = {0, 1, 2, 31, 32, 33, 255, 256, 0x7FFFFFFF, 0x80000000, 0x80000001,
                                   0xFFFFFFFF, 0xFFFFFFFE, 0x0000FFFF, 0xFFFF0000, 0x00008000, 0x000000FF, 0x00000080};
  switch (below(4)) {
    case 0: return edges[below(sizeof edges / sizeof edges[0])];
    case 1: return below(64);
    default: return uint32_t(next());
  }
}

void ThumbGenerator::t16(uint16_t hw) {
  code_.push_back(hw);
  ++instructions_;
}

void ThumbGenerator::t32(uint16_t hw1, uint16_t hw2) {
  code_.push_back(hw1);
  code_.push_back(hw2);
  ++instructions_;
}

void ThumbGenerator::movw(int rd, uint32_t imm16) {
  t32(uint16_t(0xF240 | ((imm16 >> 1) & 0x400) | (imm16 >> 12)),
      uint16_t(((imm16 >> 8) & 7) << 12 | rd << 8 | (imm16 & 0xFF)));
}

void ThumbGenerator::movt(int rd, uint32_t imm16) {
  t32(uint16_t(0xF2C0 | ((imm16 >> 1) & 0x400) | (imm16 >> 12)),
      uint16_t(((imm16 >> 8) & 7) << 12 | rd << 8 | (imm16 & 0xFF)));
}

void ThumbGenerator::load32(int rd, uint32_t value) {
  movw(rd, value & 0xFFFF);
  if ((value >> 16) || chance(2)) movt(rd, value >> 16);
}

int ThumbGenerator::regExcept(int a, int b, int c) {
  for (;;) {
    int r = reg();
    if (r != a && r != b && r != c) return r;
  }
}

uint32_t ThumbGenerator::modifiedImmediate() {
  if (chance(2)) return below(4) << 8 | below(256);          // 00XY, 00XY00XY, XY00XY00, XYXYXYXY
  return (8 + below(24)) << 7 | below(128);                  // a rotated 8-bit constant
}

uint32_t ThumbGenerator::dataAddress(uint32_t size, bool aligned, int32_t minOffset, int32_t maxOffset) {
  // Somewhere the whole access range [address + minOffset, address + maxOffset + size) stays in
  // the data area (or the peripheral window, one access in eight, always aligned).
  bool bus = busBase_ && chance(8);
  uint32_t lo = uint32_t(-minOffset), span = ramDataSize_ - lo - uint32_t(maxOffset) - size;
  uint32_t address = (bus ? busBase_ : ramData_) + lo + below(span);
  if (aligned || bus) address &= ~(size - 1);
  lastWasBus_ = bus;
  return address;
}

// ---- 16-bit data processing ----

void ThumbGenerator::dataProcessing16(bool insideIt) {
  int d = lo(), n = lo(), m = lo();
  switch (below(12)) {
    case 0: {  // LSL/LSR/ASR #imm5 (LSL #0 is MOVS, which an IT block may not hold)
      uint32_t op = below(3), imm5 = chance(4) ? 0 : below(32);
      if (insideIt && op == 0 && imm5 == 0) imm5 = 1;
      t16(uint16_t(op << 11 | imm5 << 6 | m << 3 | d));
      break;
    }
    case 1: t16(uint16_t(0x1800 | below(2) << 9 | m << 6 | n << 3 | d)); break;          // ADD/SUB register
    case 2: t16(uint16_t(0x1C00 | below(2) << 9 | below(8) << 6 | n << 3 | d)); break;   // ADD/SUB #imm3
    case 3: t16(uint16_t(0x2000 | below(4) << 11 | d << 8 | below(256))); break;          // MOV/CMP/ADD/SUB #imm8
    case 4: case 5: t16(uint16_t(0x4000 | below(16) << 6 | m << 3 | d)); break;           // AND..MVN, MUL
    case 6: {  // ADD Rdn, Rm with a high register (not the PC, not SP as the destination)
      int dn = int(below(13)), rm = int(below(15));
      if (dn < 8 && rm < 8) rm = 8 + int(below(5));
      t16(uint16_t(0x4400 | (dn >> 3) << 7 | rm << 3 | (dn & 7)));
      break;
    }
    case 7: {  // CMP high: not both low, neither the PC
      int rn = int(below(15)), rm = 8 + int(below(5));
      if (chance(2)) std::swap(rn, rm);
      t16(uint16_t(0x4500 | (rn >> 3) << 7 | rm << 3 | (rn & 7)));
      break;
    }
    case 8: {  // MOV Rd, Rm (any but the PC; SP only as a source)
      int rd = int(below(13)), rm = int(below(15));
      t16(uint16_t(0x4600 | (rd >> 3) << 7 | rm << 3 | (rd & 7)));
      break;
    }
    case 9: t16(uint16_t((chance(2) ? 0xA000 : 0xA800) | d << 8 | below(256))); break;  // ADR, ADD Rd, SP, #imm
    case 10:
      if (insideIt) {
        t16(uint16_t(0x4000 | below(16) << 6 | m << 3 | d));
      } else {  // SUB SP then ADD SP back, so the stack stays where it was
        uint32_t imm7 = below(128);
        t16(uint16_t(0xB080 | imm7));
        t16(uint16_t(0xB000 | imm7));
      }
      break;
    default: t16(uint16_t(0xB200 | below(4) << 6 | m << 3 | d)); break;  // SXTH/SXTB/UXTH/UXTB
  }
}

// ---- 32-bit data processing ----

void ThumbGenerator::modifiedImmediateOp() {
  static const int ops[] = {0, 1, 2, 3, 4, 8, 10, 11, 13, 14};  // AND BIC ORR ORN EOR ADD ADC SBC SUB RSB
  int op = ops[below(10)], s = int(below(2)), d = reg(), n = reg();
  uint32_t imm = modifiedImmediate();
  if ((op == 2 || op == 3) && chance(3)) n = 15;                               // MOV, MVN
  if ((op == 0 || op == 4 || op == 8 || op == 13) && chance(4)) d = 15, s = 1;  // TST TEQ CMN CMP
  if (chance(4)) {  // plain binary immediates: ADDW/SUBW (ADR with the PC), MOVW, MOVT
    uint32_t imm12 = below(4096);
    d = reg();
    switch (below(4)) {
      case 0: case 1: {
        int rn = chance(4) ? 15 : n;
        uint16_t hw1 = uint16_t((chance(2) ? 0xF200 : 0xF2A0) | (imm12 >> 11) << 10 | rn);
        t32(hw1, uint16_t(((imm12 >> 8) & 7) << 12 | d << 8 | (imm12 & 0xFF)));
        break;
      }
      case 2: movw(d, uint32_t(next() & 0xFFFF)); break;
      default: movt(d, uint32_t(next() & 0xFFFF)); break;
    }
    return;
  }
  t32(uint16_t(0xF000 | (imm >> 11) << 10 | op << 5 | s << 4 | n),
      uint16_t(((imm >> 8) & 7) << 12 | d << 8 | (imm & 0xFF)));
}

void ThumbGenerator::shiftedRegister() {
  static const int ops[] = {0, 1, 2, 3, 4, 8, 10, 11, 13, 14};
  int op = ops[below(10)], s = int(below(2)), d = reg(), n = reg(), m = reg();
  if ((op == 2 || op == 3) && chance(3)) n = 15;                               // MOV/MVN (and the shifts)
  if ((op == 0 || op == 4 || op == 8 || op == 13) && chance(4)) d = 15, s = 1;  // TST TEQ CMN CMP
  // Shift amounts 0 (LSR/ASR #32, RRX) and 1 and 31 as often as the rest.
  static const uint32_t amounts[] = {0, 1, 31, 16};
  uint32_t imm5 = chance(2) ? amounts[below(4)] : below(32), type = below(4);
  t32(uint16_t(0xEA00 | op << 5 | s << 4 | n), uint16_t((imm5 >> 2) << 12 | d << 8 | (imm5 & 3) << 6 | type << 4 | m));
}

void ThumbGenerator::registerShift(bool insideIt) {
  static const uint32_t amounts[] = {0, 1, 31, 32, 33, 255, 7, 64, 0x100, 0x120};
  int m = insideIt ? reg() : lo();
  if (!insideIt) {  // the amount register: its bottom byte counts, the rest must be ignored
    uint32_t amount = amounts[below(10)];
    load32(m, chance(2) ? amount : (amount & 0xFF) | (uint32_t(next()) & 0xFFFFFF00));
  }
  if (chance(2)) {  // LSL/LSR/ASR/ROR.W Rd, Rn, Rm, with or without S
    int d = reg(), n = reg();
    t32(uint16_t(0xFA00 | below(4) << 5 | below(2) << 4 | n), uint16_t(0xF000 | d << 8 | m));
  } else if (m < 8) {  // the 16-bit LSLS/LSRS/ASRS/RORS Rdn, Rm
    static const int ops[] = {2, 3, 4, 7};
    t16(uint16_t(0x4000 | ops[below(4)] << 6 | m << 3 | lo()));
  } else {
    int d = reg(), n = reg();
    t32(uint16_t(0xFA00 | below(4) << 5 | below(2) << 4 | n), uint16_t(0xF000 | d << 8 | m));
  }
}

// ---- IT blocks ----

void ThumbGenerator::itBlock() {
  // Flags first, from a register, so every condition meets both outcomes.
  int b = 8 + int(below(5)), f = regExcept(b);
  load32(b, dataAddress(4, true, 0, 256));  // the base of any load or store in the block
  load32(f, uint32_t(next()) & 0xF8000000);
  t32(uint16_t(0xF380 | f), 0x8800);  // MSR APSR_nzcvq, Rf
  uint32_t firstcond = below(15), count = 1 + below(4), mask = 0;
  for (uint32_t i = 1; i < count; ++i) {
    bool then = firstcond == 14 || chance(2);
    uint32_t bit = then ? (firstcond & 1) : (~firstcond & 1);
    mask |= bit << (4 - i);
  }
  mask |= 1u << (4 - count);
  t16(uint16_t(0xBF00 | firstcond << 4 | mask));
  for (uint32_t i = 0; i < count; ++i) {
    bool last = i + 1 == count;
    if (last && chance(4)) {  // a branch may end the block: forward over one instruction
      if (chance(2)) {
        t16(0xE000);   // B to the instruction after the next
      } else {
        t32(0xF000, 0xB801);  // B.W over the next (a 16-bit one)
      }
      t16(uint16_t(0x3001 | lo() << 8));  // ADDS Rx, #1: skipped by the branch when it is taken
      return;
    }
    switch (below(6)) {
      case 0: case 1: dataProcessing16(true); break;
      case 2: modifiedImmediateOp(); break;
      case 3: shiftedRegister(); break;
      case 4: registerShift(true); break;
      default: {  // a load or store through the base set before the block
        int t = lo();
        t32(uint16_t((chance(2) ? 0xF8C0 : 0xF8D0) | b), uint16_t(t << 12 | (below(64) * 4)));
        break;
      }
    }
  }
}

// ---- loads and stores ----

void ThumbGenerator::loadStore16() {
  int t = lo(), n = regExcept(t);
  n &= 7;
  if (n == t) n = (t + 1) & 7;
  switch (below(5)) {
    case 0: {  // STR/LDR/STRB/LDRB/STRH/LDRH Rt, [Rn, #imm5 * size]
      static const uint16_t ops[] = {0x6000, 0x6800, 0x7000, 0x7800, 0x8000, 0x8800};
      static const uint32_t sizes[] = {4, 4, 1, 1, 2, 2};
      int k = int(below(6));
      uint32_t imm5 = below(32);
      load32(n, dataAddress(sizes[k], chance(4) ? false : true, 0, int32_t(imm5 * sizes[k])));
      t16(uint16_t(ops[k] | imm5 << 6 | n << 3 | t));
      break;
    }
    case 1: {  // register offset, all eight
      int m = (n + 1 + int(below(7))) & 7;
      if (m == n) m = (m + 1) & 7;
      uint32_t offset = below(256);
      load32(n, dataAddress(4, chance(4) ? false : true, 0, int32_t(offset)));
      if (lastWasBus_) offset &= ~3u;  // peripherals take aligned accesses only
      load32(m, offset);
      t16(uint16_t(0x5000 | below(8) << 9 | m << 6 | n << 3 | t));
      break;
    }
    case 2: t16(uint16_t((chance(2) ? 0x9000 : 0x9800) | t << 8 | below(256))); break;  // STR/LDR [SP, #imm8*4]
    case 3: t16(uint16_t(0x4800 | t << 8 | below(256))); break;                           // LDR literal
    default: {  // a store and a load back of another size: the bytes land where they should
      uint32_t address = dataAddress(4, chance(2), 0, 0);
      load32(n, address);
      t16(uint16_t(0x6000 | n << 3 | t));
      static const uint16_t loads[] = {0x6800, 0x7800, 0x8800};
      t16(uint16_t(loads[below(3)] | below(2) << 6 | n << 3 | ((t + 1) & 7)));
      break;
    }
  }
}

void ThumbGenerator::loadStore32() {
  int t = reg(), n = regExcept(t);
  // Size and sign: STRB STRH STR LDRB LDRH LDR LDRSB LDRSH (hw1 bits 8..4 without Rn).
  static const uint16_t ops[] = {0xF800, 0xF820, 0xF840, 0xF810, 0xF830, 0xF850, 0xF910, 0xF930};
  static const uint32_t sizes[] = {1, 2, 4, 1, 2, 4, 1, 2};
  int k = int(below(8));
  uint32_t size = sizes[k];
  bool aligned = !chance(3);
  switch (below(5)) {
    case 0: {  // imm12
      uint32_t imm12 = below(4096);
      load32(n, dataAddress(size, aligned, 0, int32_t(imm12)));
      if (lastWasBus_) imm12 &= ~(size - 1);
      t32(uint16_t(ops[k] | 0x80 | n), uint16_t(t << 12 | imm12));
      break;
    }
    case 1: {  // imm8: offset, pre-indexed or post-indexed, up or down; or the unprivileged form
      uint32_t imm8 = below(256), p = below(2), u = below(2), w = p ? below(2) : 1;
      bool unprivileged = chance(5);
      if (unprivileged) p = 1, u = 1, w = 0;
      load32(n, dataAddress(size, aligned, -int32_t(imm8), int32_t(imm8)));
      if (lastWasBus_) imm8 &= ~(size - 1);
      t32(uint16_t(ops[k] | n), uint16_t(t << 12 | 0x800 | p << 10 | u << 9 | w << 8 | imm8));
      break;
    }
    case 2: {  // register, LSL #0..3
      int m = regExcept(t, n);
      uint32_t shift = below(4), offset = below(128);
      load32(n, dataAddress(size, aligned, 0, int32_t(offset << shift)));
      if (lastWasBus_) offset &= ~3u;  // peripherals take aligned accesses only
      load32(m, offset);
      t32(uint16_t(ops[k] | n), uint16_t(t << 12 | shift << 4 | m));
      break;
    }
    case 3: {  // literal (loads only), up or down
      if (k < 3) k += 3;
      uint32_t u = below(2), imm12 = below(u ? 1024 : 2048);
      t32(uint16_t(ops[k] | u << 7 | 15), uint16_t(t << 12 | imm12));
      break;
    }
    default: {  // PLD: a hint that touches nothing
      uint32_t imm12 = below(4096);
      load32(n, dataAddress(1, false, 0, int32_t(imm12)));
      t32(uint16_t(0xF890 | n), uint16_t(0xF000 | imm12));
      break;
    }
  }
}

void ThumbGenerator::loadStoreMultiple() {
  switch (below(5)) {
    case 0: case 1: {  // 16-bit STM/LDM Rn!, {list} (LDM writes back only when Rn is not loaded)
      int n = lo();
      uint32_t list = (below(255) + 1) & 0xFF;
      bool load = chance(2);
      if (!load) list &= ~(1u << n);
      if (!list) list = 1u << ((n + 1) & 7);
      load32(n, dataAddress(4, true, 0, 32) | (chance(40) ? 2u : 0u));  // unaligned now and then: a UsageFault
      t16(uint16_t((load ? 0xC800 : 0xC000) | n << 8 | list));
      break;
    }
    case 2: {  // PUSH then POP, with LR and then the PC: POP {pc} returns to the next instruction
      uint32_t list = below(256);
      if (chance(2)) {
        uint32_t after = (here() + 4 + 4 + 2 + 2) | 1;  // after MOVW, MOVT, PUSH, POP
        movw(14, after & 0xFFFF);
        movt(14, after >> 16);
        t16(uint16_t(0xB500 | list));
        t16(uint16_t(0xBD00 | list));
      } else {
        if (!list) list = 1;
        uint32_t popped = list ^ (chance(2) ? 0 : below(256));
        t16(uint16_t(0xB400 | list));
        t16(uint16_t(0xBC00 | (popped ? popped : 1)));
      }
      break;
    }
    default: {  // 32-bit LDM/STM IA/DB with or without writeback (Rn never in the list then)
      int n = reg();
      bool load = chance(2), db = chance(2), wb = chance(2);
      uint32_t list = uint32_t(next()) & 0x5FFF;  // r0..r12, LR: never SP or the PC
      if (wb) list &= ~(1u << n);
      for (int r = 0; __builtin_popcount(list) < 2; ++r)  // two registers at least
        if (r != n) list |= 1u << r;
      uint32_t span = 4 * uint32_t(__builtin_popcount(list));
      uint32_t address = dataAddress(4, true, db ? -int32_t(span) : 0, db ? 0 : int32_t(span));
      if (chance(40)) address |= 2;  // unaligned: a UsageFault
      load32(n, address);
      t32(uint16_t((db ? 0xE900 : 0xE880) | (load ? 0x10 : 0) | (wb ? 0x20 : 0) | n), uint16_t(list));
      break;
    }
  }
}

void ThumbGenerator::loadStoreDual() {
  int t = reg(), t2 = regExcept(t), n = regExcept(t, t2);
  bool load = chance(2);
  if (load && chance(6)) {  // LDRD literal
    uint32_t u = below(2), imm8 = below(128);
    t32(uint16_t(0xE850 | 1u << 8 | u << 7 | 15), uint16_t(t << 12 | t2 << 8 | imm8));
    return;
  }
  uint32_t p = below(2), u = below(2), w = p ? below(2) : 1, imm8 = below(64);
  uint32_t address = dataAddress(8, true, -int32_t(imm8 * 4), int32_t(imm8 * 4));
  if (chance(30)) address |= 1u << below(3);  // unaligned but for +4: a UsageFault
  load32(n, address);
  t32(uint16_t(0xE840 | p << 8 | u << 7 | w << 5 | (load ? 0x10 : 0) | n), uint16_t(t << 12 | t2 << 8 | imm8));
}

void ThumbGenerator::exclusive() {
  int t = reg(), n = regExcept(t), d = regExcept(t, n), size = int(below(3));  // word, byte, halfword
  uint32_t imm8 = size == 0 ? below(16) : 0;
  // RAM only: exclusives on peripherals always fail in Unicorn, which no firmware relies on.
  uint32_t address = ramData_ + 0x100 + (below(ramDataSize_ - 0x200) & ~3u);
  if (chance(30)) address |= 1;  // unaligned word/halfword: a UsageFault
  load32(n, address);
  if (chance(6)) t32(0xF3BF, 0x8F2F);  // CLREX first: the monitor state from before is forgotten
  bool loadFirst = !chance(5);
  auto ldrex = [&] {
    if (size == 0) t32(uint16_t(0xE850 | n), uint16_t(t << 12 | 0xF00 | imm8));
    else t32(uint16_t(0xE8D0 | n), uint16_t(t << 12 | 0xF0F | (size == 1 ? 0x40 : 0x50)));
  };
  auto strex = [&] {
    if (size == 0) t32(uint16_t(0xE840 | n), uint16_t(t << 12 | d << 8 | imm8));
    else t32(uint16_t(0xE8C0 | n), uint16_t(t << 12 | 0xF00 | (size == 1 ? 0x40 : 0x50) | d));
  };
  if (loadFirst) ldrex();
  if (chance(3)) t32(uint16_t(0xF100 | t), uint16_t(t << 8 | 1));  // ADD Rt, Rt, #1 between
  if (chance(6)) t32(0xF3BF, 0x8F2F);                              // CLREX between: STREX fails
  strex();
  if (chance(3)) strex();  // a second STREX always fails
}

void ThumbGenerator::multiplyDivide() {
  int d = reg(), n = reg(), m = reg(), a = reg();
  switch (below(6)) {
    case 0: t16(uint16_t(0x4340 | lo() << 3 | lo())); break;                             // MULS
    case 1: t32(uint16_t(0xFB00 | n), uint16_t(0xF000 | d << 8 | m)); break;              // MUL
    case 2: t32(uint16_t(0xFB00 | n), uint16_t(a << 12 | d << 8 | below(2) << 4 | m)); break;  // MLA/MLS
    case 3: {  // SMULL UMULL SMLAL UMLAL
      static const uint16_t ops[] = {0xFB80, 0xFBA0, 0xFBC0, 0xFBE0};
      int hi = regExcept(d);
      t32(uint16_t(ops[below(4)] | n), uint16_t(d << 12 | hi << 8 | m));
      break;
    }
    default: {  // SDIV/UDIV, with the divisor 0 or -1 and the dividend INT_MIN often
      if (chance(3)) load32(m, chance(2) ? 0 : 0xFFFFFFFF);
      if (chance(4)) load32(n, 0x80000000);
      t32(uint16_t((chance(2) ? 0xFB90 : 0xFBB0) | n), uint16_t(0xF0F0 | d << 8 | m));
      break;
    }
  }
}

void ThumbGenerator::bitField() {
  int d = reg(), n = reg();
  uint32_t lsb = below(32);
  switch (below(4)) {
    case 0: case 1: {  // BFI / BFC: msb >= lsb
      uint32_t msb = lsb + below(32 - lsb);
      t32(uint16_t(0xF360 | (chance(4) ? 15 : n)), uint16_t((lsb >> 2) << 12 | d << 8 | (lsb & 3) << 6 | msb));
      break;
    }
    default: {  // SBFX / UBFX: lsb + width <= 32
      uint32_t widthm1 = below(32 - lsb);
      t32(uint16_t((chance(2) ? 0xF340 : 0xF3C0) | n), uint16_t((lsb >> 2) << 12 | d << 8 | (lsb & 3) << 6 | widthm1));
      break;
    }
  }
}

void ThumbGenerator::saturate() {
  int d = reg(), n = reg();
  if (chance(3)) {  // clear Q so the next saturation shows
    int f = regExcept(d, n);
    movw(f, 0);
    t32(uint16_t(0xF380 | f), 0x8800);
  }
  uint32_t sh = below(2), imm5 = below(32), sat = below(32);
  if (sh && imm5 == 0) imm5 = 1;  // sh=1, imm 0 is SSAT16/USAT16 (DSP only)
  t32(uint16_t((chance(2) ? 0xF300 : 0xF380) | sh << 5 | n), uint16_t((imm5 >> 2) << 12 | d << 8 | (imm5 & 3) << 6 | sat));
  if (chance(2)) t32(0xF3EF, uint16_t(0x8000 | regExcept(d) << 8));  // MRS Rx, APSR: Q
}

void ThumbGenerator::misc() {
  int d = reg(), m = reg();
  switch (below(4)) {
    case 0: t32(uint16_t(0xFAB0 | m), uint16_t(0xF080 | d << 8 | m)); break;  // CLZ
    case 1: {  // RBIT REV REV16 REVSH
      static const uint16_t ops[] = {0xF0A0, 0xF080, 0xF090, 0xF0B0};
      t32(uint16_t(0xFA90 | m), uint16_t(ops[below(4)] | d << 8 | m));
      break;
    }
    case 2: {  // SXTH UXTH SXTB UXTB .W with ROR #0/8/16/24
      static const uint16_t ops[] = {0xFA0F, 0xFA1F, 0xFA4F, 0xFA5F};
      t32(ops[below(4)], uint16_t(0xF080 | d << 8 | below(4) << 4 | m));
      break;
    }
    default: {  // 16-bit REV REV16 REVSH and extends
      static const uint16_t ops[] = {0xBA00, 0xBA40, 0xBAC0, 0xB200, 0xB240, 0xB280, 0xB2C0};
      t16(uint16_t(ops[below(7)] | lo() << 3 | lo()));
      break;
    }
  }
}

// ---- branches ----

void ThumbGenerator::filler(int count) {
  for (int i = 0; i < count; ++i) {
    if (chance(2)) dataProcessing16(false);
    else modifiedImmediateOp();
  }
}

void ThumbGenerator::branch() {
  // The branch, then filler it may jump over: `emitBranch(offset)` gets the bytes from the
  // branch's PC (its address + 4) to the end of the filler.
  auto skip = [&](auto emitBranch) {
    size_t at = code_.size();
    emitBranch(0);
    size_t after = code_.size();
    filler(1 + int(below(4)));
    uint32_t offset = 2 * uint32_t(code_.size() - at) - 4;
    std::vector<uint16_t> rest(code_.begin() + long(after), code_.end());
    code_.resize(at);
    instructions_ -= 1;  // the placeholder is emitted again below
    emitBranch(offset);
    code_.insert(code_.end(), rest.begin(), rest.end());
  };
  switch (below(9)) {
    case 0: skip([&](uint32_t off) { t16(uint16_t(0xE000 | (off / 2))); }); break;  // B
    case 1: skip([&](uint32_t off) { t16(uint16_t(0xD000 | below(14) << 8 | (off / 2))); }); break;  // B<c>
    case 2: {  // CBZ/CBNZ
      int n = lo();
      if (chance(2)) movw(n, chance(2) ? 0 : below(3));
      bool nz = chance(2);
      skip([&](uint32_t off) { t16(uint16_t((nz ? 0xB900 : 0xB100) | (off >> 6) << 9 | ((off >> 1) & 31) << 3 | n)); });
      break;
    }
    case 3: skip([&](uint32_t off) { t32(0xF000, uint16_t(0xB800 | (off / 2))); }); break;  // B.W
    case 4: {  // B<c>.W
      uint32_t cond = below(14);
      skip([&](uint32_t off) { t32(uint16_t(0xF000 | cond << 6), uint16_t(0x8000 | (off / 2))); });
      break;
    }
    case 5: skip([&](uint32_t off) { t32(0xF000, uint16_t(0xF800 | (off / 2))); }); break;  // BL
    case 6: {  // BX / BLX Rm to an address after some filler
      int m = reg();
      bool link = chance(2);
      size_t at = code_.size();
      movw(m, 0);
      movt(m, 0);
      t16(uint16_t((link ? 0x4780 : 0x4700) | m << 3));
      filler(1 + int(below(3)));
      uint32_t target = here() | 1;
      std::vector<uint16_t> rest(code_.begin() + long(at) + 4, code_.end());
      code_.resize(at);
      instructions_ -= 2;
      movw(m, target & 0xFFFF);
      movt(m, target >> 16);
      code_.insert(code_.end(), rest.begin(), rest.end());
      break;
    }
    case 7: {  // TBB/TBH [PC, Rm]: a table of forward offsets into the filler after it
      bool half = chance(2);
      int m = reg();
      uint32_t entries = 1 + below(4);
      movw(m, below(entries));
      size_t at = code_.size();
      t32(0xE8DF, uint16_t((half ? 0xF010 : 0xF000) | m));
      uint32_t tableHalfwords = half ? entries : (entries + 1) / 2;
      size_t tableAt = code_.size();
      code_.insert(code_.end(), tableHalfwords, 0);
      std::vector<size_t> starts;  // instruction boundaries in the filler
      for (int i = 0; i < 4; ++i) {
        starts.push_back(code_.size());
        filler(1);
      }
      std::vector<uint8_t> bytes;
      for (uint32_t e = 0; e < entries; ++e) {
        uint32_t offset = uint32_t(starts[below(uint32_t(starts.size()))] - (at + 2));  // halfwords from PC
        if (half) code_[tableAt + e] = uint16_t(offset);
        else bytes.push_back(uint8_t(offset));
      }
      for (size_t i = 0; i < bytes.size(); ++i) code_[tableAt + i / 2] |= uint16_t(bytes[i] << (8 * (i & 1)));
      break;
    }
    default: {  // a loop: MOVS Rx, #n; loop: <filler>; SUBS Rx, #1; BNE loop
      int x = lo();
      t16(uint16_t(0x2000 | x << 8 | (1 + below(4))));
      size_t loop = code_.size();
      for (int i = 0; i < 2; ++i) {
        uint16_t hw = uint16_t(0x4000 | below(16) << 6 | lo() << 3 | lo());  // ALU ops, not on Rx
        if ((hw & 7) == x) hw = uint16_t((hw & ~7u) | ((x + 1) & 7));
        t16(hw);
      }
      t16(uint16_t(0x3800 | x << 8 | 1));
      int32_t back = -int32_t(2 * (code_.size() + 2 - loop));
      t16(uint16_t(0xD100 | ((back / 2) & 0xFF)));
      break;
    }
  }
}

// ---- system ----

void ThumbGenerator::system() {
  int r = reg();
  switch (below(8)) {
    case 0: case 1: {  // MRS of every special register
      static const uint32_t sysm[] = {0, 1, 2, 3, 5, 6, 7, 8, 9, 16, 17, 18, 19, 20};
      t32(0xF3EF, uint16_t(0x8000 | r << 8 | sysm[below(14)]));
      break;
    }
    case 2: case 3: {  // MSR of the masks, CONTROL and the flags, from a random value
      static const uint32_t sysm[] = {0, 16, 17, 18, 19, 20};
      uint32_t which = sysm[below(6)];
      load32(r, which == 0 ? uint32_t(next()) : uint32_t(next()) & (chance(2) ? 0xFF : 0x3));
      t32(uint16_t(0xF380 | r), uint16_t(0x8800 | which));
      break;
    }
    case 4: {  // MSR MSP/PSP with a stack address in RAM, then MRS back
      uint32_t which = 8 + below(2);
      // Word or doubleword aligned (the frame's padding differs). Never with bits 1:0 set,
      // which the M3's stack pointers keep at zero: Unicorn keeps them.
      load32(r, (ramData_ + ramDataSize_ - 0x400 + below(0x100)) & ~(chance(4) ? 3u : 7u));
      t32(uint16_t(0xF380 | r), uint16_t(0x8800 | which));
      t32(0xF3EF, uint16_t(0x8000 | regExcept(r) << 8 | which));
      break;
    }
    case 5: t16(uint16_t(0xB660 | below(2) << 4 | (chance(2) ? 2 : 1))); break;  // CPSIE/CPSID i/f
    case 6: {  // hints and barriers
      static const uint16_t hints[] = {0xBF00, 0xBF10, 0xBF40, 0xBF20, 0xBF30};
      if (chance(2)) t16(hints[below(5)]);
      else t32(0xF3BF, uint16_t(0x8F4F + 0x10 * below(3)));  // DSB DMB ISB
      break;
    }
    default: t16(uint16_t(0xDF00 | below(256))); break;  // SVC
  }
}

namespace {
const uint32_t kUndefinedOnM3[] = {
      0xFA80F080,  // QADD
      0xFB10F000,  // SMULBB
      0xF3200000,  // SSAT16
      0xFAA0F080,  // SEL
      0xFA3FF080,  // UXTB16
      0xEAC00000,  // PKHBT
      0xFA90F000,  // SADD16
      0xFB20F000,  // SMLAD
      0xF7F0A000,  // UDF.W
      0x0000DE00,  // UDF
      0x0000BA80,  // 16-bit REV group, op 10
      0xEE000A00,  // VMLA (coprocessor 10: no FPU)
      0xEC400B10,  // VMOV to core registers (coprocessor 11)
};
}  // namespace

bool undefinedOnCortexM3(uint32_t encoding) {
  for (uint32_t e : kUndefinedOnM3)
    if (e == encoding) return true;
  return false;
}

void ThumbGenerator::undefinedEncoding() {
  uint32_t e = kUndefinedOnM3[below(sizeof kUndefinedOnM3 / sizeof kUndefinedOnM3[0])];
  if (e >> 16) t32(uint16_t(e >> 16), uint16_t(e));
  else t16(uint16_t(e));
}

void ThumbGenerator::emit(Encodings c, bool insideIt) {
  switch (c) {
    case Encodings::DataProcessing16: dataProcessing16(insideIt); break;
    case Encodings::ModifiedImmediate: modifiedImmediateOp(); break;
    case Encodings::ShiftedRegister: shiftedRegister(); break;
    case Encodings::RegisterShifts: registerShift(insideIt); break;
    case Encodings::ItBlocks: itBlock(); break;
    case Encodings::LoadStore16: loadStore16(); break;
    case Encodings::LoadStore32: loadStore32(); break;
    case Encodings::LoadStoreMultiple: loadStoreMultiple(); break;
    case Encodings::LoadStoreDual: loadStoreDual(); break;
    case Encodings::Exclusive: exclusive(); break;
    case Encodings::MultiplyDivide: multiplyDivide(); break;
    case Encodings::BitField: bitField(); break;
    case Encodings::Saturate: saturate(); break;
    case Encodings::Misc: misc(); break;
    case Encodings::Branches: branch(); break;
    case Encodings::System: system(); break;
    case Encodings::Undefined: undefinedEncoding(); break;
  }
}

void ThumbGenerator::generate(Encodings c, int count) {
  while (instructions_ < count) {
    if (chance(5)) emit(chance(2) ? Encodings::DataProcessing16 : Encodings::ModifiedImmediate, false);
    else emit(c, false);
  }
  end_ = here();
  code_.push_back(0xE7FE);  // B .
}

}  // namespace korvel::sim::lockstep
