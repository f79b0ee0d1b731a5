// Random Thumb-2 code for the lockstep tests: instruction sequences of one encoding class at a
// time (with a little of the others mixed in), from a fixed seed. Every generated instruction is
// one the architecture defines for the Cortex-M3 with the registers and values it is given
// (nothing UNPREDICTABLE), except the class of encodings the M3 leaves undefined, which must
// fault the same way on both engines. Loads and stores get their base and offset registers set
// just before them (MOVW/MOVT), so they touch the test's RAM or its peripheral window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvel::sim::lockstep {

enum class Encodings {
  DataProcessing16,   // shifts by immediate, ADD/SUB/MOV/CMP, the ALU group, high registers, SP forms
  ModifiedImmediate,  // 32-bit data processing with ThumbExpandImm constants, ADDW/SUBW/MOVW/MOVT/ADR
  ShiftedRegister,    // 32-bit data processing with an immediate-shifted register operand
  RegisterShifts,     // LSL/LSR/ASR/ROR by a register holding 0, 1, 31, 32, 33, 255...
  ItBlocks,           // IT with every condition and mask, then the instructions it governs
  LoadStore16,        // every 16-bit load/store: immediate, register, SP-relative, literal
  LoadStore32,        // every 32-bit load/store: imm12, imm8 pre/post/negative, register, literal, T forms
  LoadStoreMultiple,  // LDM/STM (16 and 32-bit, IA/DB, writeback), PUSH/POP incl. POP {pc}
  LoadStoreDual,      // LDRD/STRD with every index mode, literal LDRD
  Exclusive,          // LDREX/STREX (word, byte, halfword), CLREX
  MultiplyDivide,     // MUL/MLA/MLS, long multiplies, SDIV/UDIV incl. by zero and INT_MIN / -1
  BitField,           // BFI, BFC, UBFX, SBFX
  Saturate,           // SSAT, USAT with shifts (and the Q flag)
  Misc,               // CLZ, RBIT, REV, REV16, REVSH, sign/zero extension with rotation
  Branches,           // B, B<c>, B.W, BL, CBZ/CBNZ, BX/BLX, TBB/TBH, loops within the sequence
  System,             // MRS/MSR of every special register, CPS, hints, barriers, SVC
  Undefined,          // encodings the Cortex-M3 does not implement (DSP, coprocessor, UDF)
};
inline constexpr int kEncodingClasses = 17;
const char* toString(Encodings c);
// One of the encodings the Undefined class emits (hw1 << 16 | hw2, or a 16-bit one).
bool undefinedOnCortexM3(uint32_t encoding);

class ThumbGenerator {
 public:
  ThumbGenerator(uint64_t seed, uint32_t base, uint32_t ramData, uint32_t ramDataSize, uint32_t busBase);

  // About `count` instructions, mostly of class `c`, then `B .` where the sequence ends.
  void generate(Encodings c, int count);
  const std::vector<uint16_t>& code() const { return code_; }
  uint32_t end() const { return end_; }  // the address of the final `B .`
  int instructions() const { return instructions_; }

  uint64_t next();
  uint32_t below(uint32_t n) { return uint32_t(next() % n); }
  bool chance(uint32_t oneIn) { return below(oneIn) == 0; }
  // A register value that exercises edge cases as often as ordinary ones.
  uint32_t interestingValue();

 private:
  uint32_t here() const { return base_ + 2 * uint32_t(code_.size()); }
  void t16(uint16_t hw);
  void t32(uint16_t hw1, uint16_t hw2);
  void movw(int rd, uint32_t imm16);
  void movt(int rd, uint32_t imm16);
  void load32(int rd, uint32_t value);  // MOVW (+ MOVT)
  int lo() { return int(below(8)); }
  int reg() { return int(below(13)); }  // r0..r12
  int regExcept(int a, int b = -1, int c = -1);
  uint32_t modifiedImmediate();
  // An address for an access of `size` bytes at base + offsets in [minOffset, maxOffset].
  uint32_t dataAddress(uint32_t size, bool aligned, int32_t minOffset, int32_t maxOffset);

  void emit(Encodings c, bool insideIt);
  void dataProcessing16(bool insideIt);
  void modifiedImmediateOp();
  void shiftedRegister();
  void registerShift(bool insideIt);
  void itBlock();
  void loadStore16();
  void loadStore32();
  void loadStoreMultiple();
  void loadStoreDual();
  void exclusive();
  void multiplyDivide();
  void bitField();
  void saturate();
  void misc();
  void branch();
  void system();
  void undefinedEncoding();
  // A forward branch over a few instructions of filler, so every target is in the sequence.
  void filler(int count);

  uint64_t state_;
  uint32_t base_, ramData_, ramDataSize_, busBase_;
  std::vector<uint16_t> code_;
  uint32_t end_ = 0;
  int instructions_ = 0;
  bool lastWasBus_ = false;  // dataAddress chose the peripheral window
};

}  // namespace korvel::sim::lockstep
