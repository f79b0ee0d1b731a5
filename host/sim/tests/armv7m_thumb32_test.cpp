// The 32-bit Thumb-2 instructions of korvel-sim's own Cortex-M3 engine, one encoding family per
// test group: hand-encoded instruction words (the assembly beside each) run on armv7m::Core over
// plain RAM, checking results, flags and the edge cases where an interpreter usually goes wrong.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "armv7m/core.h"

namespace {

using namespace korvel::sim;
using armv7m::Core;

// Every address outside RAM and flash reads 0 and drops writes.
struct NullBus : Bus {
  uint32_t busRead(uint32_t, uint32_t) override { return 0; }
  void busWrite(uint32_t, uint32_t, uint32_t) override {}
  uint32_t semihost(uint32_t, uint32_t) override { return 0; }
};

// One instruction: a 32-bit encoding as hw1:hw2, or a 16-bit one.
struct Insn {
  uint32_t bits;
  bool wide;
};
Insn W(uint32_t hw1hw2) { return {hw1hw2, true}; }
Insn N(uint16_t hw) { return {hw, false}; }

constexpr uint32_t kCode = 0x1000;       // in flash
constexpr uint32_t kRam = 0x10000000;
constexpr uint32_t kRamSize = 0x8000;
constexpr uint32_t kData = kRam + 0x1000;
constexpr uint32_t kUnmapped = 0x30000000;

class Thumb32 : public ::testing::Test {
 protected:
  NullBus bus;
  std::vector<uint8_t> flash = std::vector<uint8_t>(0x10000);
  std::vector<uint8_t> ram = std::vector<uint8_t>(kRamSize);
  Core core{bus};

  void SetUp() override {
    core.mapMemory(0, uint32_t(flash.size()), flash.data(), true);
    core.mapMemory(kRam, kRamSize, ram.data(), false);
    core.reset(kRam + kRamSize, kCode);
  }

  // Places the instructions at kCode (or `at`) in order, 32-bit ones as hw1 then hw2.
  void code(std::initializer_list<Insn> insns, uint32_t at = kCode) {
    uint32_t a = at;
    for (const Insn& i : insns) {
      if (i.wide) {
        put16(a, uint16_t(i.bits >> 16)), put16(a + 2, uint16_t(i.bits));
        a += 4;
      } else {
        put16(a, uint16_t(i.bits));
        a += 2;
      }
    }
    core.invalidateCode(at, a - at);
  }
  void put16(uint32_t a, uint16_t v) { std::memcpy(&flash[a], &v, 2); }

  // Runs n instructions; each must end normally.
  void exec(int n = 1) {
    for (int i = 0; i < n; ++i)
      ASSERT_EQ(core.step(), RunEnd::Budget) << "instruction " << i << ": " << core.faultText();
  }
  // Runs one instruction that must fault; answers the fault kind.
  FaultKind execFault() {
    EXPECT_EQ(core.step(), RunEnd::Fault);
    return core.fault().kind;
  }
  uint32_t& r(int n) { return core.r_[n]; }
  void jump(uint32_t address) {
    CoreRegisters regs = core.registers();
    regs.pc = address;
    core.setRegisters(regs);
  }
  uint32_t pc() { return core.pc(); }
  uint32_t word(uint32_t a) {
    uint32_t v;
    std::memcpy(&v, &ram[a - kRam], 4);
    return v;
  }
  void setWord(uint32_t a, uint32_t v) { std::memcpy(&ram[a - kRam], &v, 4); }
  uint32_t flags() {
    return uint32_t(core.n_) << 3 | uint32_t(core.z_) << 2 | uint32_t(core.c_) << 1 | uint32_t(core.v_);
  }
  void setFlags(uint32_t nzcv) {
    core.n_ = nzcv & 8, core.z_ = nzcv & 4, core.c_ = nzcv & 2, core.v_ = nzcv & 1;
  }
};
constexpr uint32_t N_ = 8, Z_ = 4, C_ = 2, V_ = 1;

// ---- data processing, modified immediate ----

TEST_F(Thumb32, ModifiedImmediateExpandsEveryForm) {
  code({W(0xF04F00AB /* mov.w r0, #0xAB */), W(0xF04F11AB /* mov.w r1, #0x00AB00AB */),
        W(0xF04F22AB /* mov.w r2, #0xAB00AB00 */),
        W(0xF04F33AB /* mov.w r3, #0xABABABAB */), W(0xF04F4400 /* mov.w r4, #0x80000000 */),
        W(0xF44F357F /* mov.w r5, #0x3FC00 */),
        W(0xF46F467F /* mvn.w r6, #0xFF00 */), W(0xF06047FE /* orn r7, r0, #0x7F000000 */)});
  exec(8);
  EXPECT_EQ(r(0), 0xABu);
  EXPECT_EQ(r(1), 0x00AB00ABu);
  EXPECT_EQ(r(2), 0xAB00AB00u);
  EXPECT_EQ(r(3), 0xABABABABu);
  EXPECT_EQ(r(4), 0x80000000u);
  EXPECT_EQ(r(5), 0x3FC00u);
  EXPECT_EQ(r(6), 0xFFFF00FFu);
  EXPECT_EQ(r(7), 0x80FFFFFFu);
}

TEST_F(Thumb32, RotatedImmediateSetsCarryFromItsTopBitAndPlainOnesKeepIt) {
  code({W(0xF05F4000 /* movs.w r0, #0x80000000 */), W(0xF45F317F /* movs.w r1, #0x3FC00 */),
        W(0xF05F02AB /* movs.w r2, #0xAB */),
        W(0xF0134F7F /* tst.w r3, #0xFF000000 */), W(0xF01314FF /* ands r4, r3, #0x00FF00FF */)});
  setFlags(0);
  exec();
  EXPECT_EQ(flags(), N_ | C_);
  exec();  // bit 31 of 0x3FC00 is clear: C goes back to 0
  EXPECT_EQ(flags(), 0u);
  setFlags(C_ | V_);
  exec();  // an unrotated constant leaves C (and V)
  EXPECT_EQ(flags(), C_ | V_);
  r(3) = 0x12345678;
  setFlags(0);
  exec();
  EXPECT_EQ(flags(), C_);
  setFlags(V_);
  exec();
  EXPECT_EQ(r(4), 0x00340078u);
  EXPECT_EQ(flags(), V_);
}

TEST_F(Thumb32, ArithmeticImmediateFlagsAndTheTwelveBitForms) {
  code({W(0xF1110001 /* adds.w r0, r1, #1 */), W(0xF1B10201 /* subs.w r2, r1, #1 */),
        W(0xF5C17380 /* rsb r3, r1, #0x100 */),
        W(0xF1B44F80 /* cmp.w r4, #0x40000000 */), W(0xF1144F80 /* cmn.w r4, #0x40000000 */),
        W(0xF60175FF /* addw r5, r1, #0xFFF */),
        W(0xF6A10601 /* subw r6, r1, #0x801 */), W(0xF20F07FC /* adr.w r7, .+0x100 */)});
  r(1) = 0xFFFFFFFF;
  exec();
  EXPECT_EQ(r(0), 0u);
  EXPECT_EQ(flags(), Z_ | C_);
  exec();
  EXPECT_EQ(r(2), 0xFFFFFFFEu);
  EXPECT_EQ(flags(), N_ | C_);
  exec();
  EXPECT_EQ(r(3), 0x101u);
  r(4) = 0x40000000;
  exec();  // equal: Z and C (no borrow)
  EXPECT_EQ(flags(), Z_ | C_);
  exec();  // 0x40000000 + 0x40000000 overflows into the sign
  EXPECT_EQ(flags(), N_ | V_);
  r(1) = 0x1000;
  exec(2);
  EXPECT_EQ(r(5), 0x1FFFu);
  EXPECT_EQ(r(6), 0x7FFu);
  exec();  // ADR at kCode + 28: Align(PC, 4) + 0x100 - 4 ... as the assembler computed it
  EXPECT_EQ(r(7), (kCode + 28 + 0x100) & ~3u);
}

TEST_F(Thumb32, AddAndSubtractWithCarryChainAcross64Bits) {
  // r1:r0 += r3:r2, then r5:r4 = r1:r0 - r3:r2 again.
  code({W(0xEB100002 /* adds.w r0, r0, r2 */), W(0xEB410103 /* adc.w r1, r1, r3 */),
        W(0xEBB00402 /* subs.w r4, r0, r2 */), W(0xEB710503 /* sbcs.w r5, r1, r3 */),
        W(0xF1570600 /* adcs r6, r7, #0 */), W(0xF1670800 /* sbc r8, r7, #0 */)});
  r(0) = 0xFFFFFFFF, r(1) = 0x00000001, r(2) = 1, r(3) = 0x7FFFFFFF;
  exec(2);
  EXPECT_EQ(r(0), 0u);
  EXPECT_EQ(r(1), 0x80000001u);
  exec(2);
  EXPECT_EQ(r(4), 0xFFFFFFFFu);
  EXPECT_EQ(r(5), 0x00000001u);
  EXPECT_EQ(flags(), C_ | V_);  // no borrow out of the top word; signed, it overflowed
  r(7) = 0xFFFFFFFF;
  setFlags(C_);
  exec();  // 0xFFFFFFFF + 0 + 1
  EXPECT_EQ(r(6), 0u);
  EXPECT_EQ(flags(), Z_ | C_);
  setFlags(0);
  exec();  // borrow in: 0xFFFFFFFF - 0 - 1
  EXPECT_EQ(r(8), 0xFFFFFFFEu);
}

// ---- data processing, shifted register ----

TEST_F(Thumb32, ImmediateShiftsOfZeroAndThirtyTwo) {
  code({W(0xEA5F0001 /* movs.w r0, r1 */), W(0xEA5F0211 /* lsrs.w r2, r1, #32 */),
        W(0xEA5F0321 /* asrs.w r3, r1, #32 */),
        W(0xEA5F0431 /* rrxs.w r4, r1 */), W(0xEA5F1531 /* rors.w r5, r1, #4 */),
        W(0xEA5F76C1 /* lsls.w r6, r1, #31 */),
        W(0xEB0807C1 /* add.w r7, r8, r1, lsl #3 */), W(0xEBC10961 /* rsb r9, r1, r1, asr #1 */)});
  r(1) = 0x8000000F;
  setFlags(C_ | V_);
  exec();  // LSL #0: the carry stays
  EXPECT_EQ(r(0), 0x8000000Fu);
  EXPECT_EQ(flags(), N_ | C_ | V_);
  setFlags(0);
  exec();  // LSR #32: result 0, carry = bit 31
  EXPECT_EQ(r(2), 0u);
  EXPECT_EQ(flags(), Z_ | C_);
  setFlags(0);
  exec();  // ASR #32: all sign bits, carry = bit 31
  EXPECT_EQ(r(3), 0xFFFFFFFFu);
  EXPECT_EQ(flags(), N_ | C_);
  setFlags(0);
  exec();  // RRX: C into bit 31, bit 0 into C
  EXPECT_EQ(r(4), 0x40000007u);
  EXPECT_EQ(flags(), C_);
  exec();
  EXPECT_EQ(r(5), 0xF8000000u);
  EXPECT_EQ(flags(), N_ | C_);
  exec();
  EXPECT_EQ(r(6), 0x80000000u);
  EXPECT_EQ(flags(), N_ | C_);  // bit 1 shifted out last
  r(8) = 2;
  exec(2);
  EXPECT_EQ(r(7), 2u + 0x78u);
  EXPECT_EQ(r(9), 0xC0000007u - 0x8000000Fu);
}

TEST_F(Thumb32, LogicalShiftedRegisterFormsAndTheirTests) {
  code({W(0xEA011002 /* and.w r0, r1, r2, lsl #4 */), W(0xEA210302 /* bic.w r3, r1, r2 */),
        W(0xEA411412 /* orr.w r4, r1, r2, lsr #4 */),
        W(0xEA610502 /* orn r5, r1, r2 */), W(0xEA811622 /* eor.w r6, r1, r2, asr #4 */),
        W(0xEA7F0742 /* mvns.w r7, r2, lsl #1 */),
        W(0xEA910F01 /* teq.w r1, r1 */), W(0xEA120F42 /* tst.w r2, r2, lsl #1 */)});
  r(1) = 0xF0F0F0F0, r(2) = 0x8F00000F;
  exec(5);
  EXPECT_EQ(r(0), 0xF0F0F0F0u & 0xF00000F0u);
  EXPECT_EQ(r(3), 0x70F0F0F0u);
  EXPECT_EQ(r(4), 0xF8F0F0F0u);
  EXPECT_EQ(r(5), 0xF0F0F0F0u | 0x70FFFFF0u);
  EXPECT_EQ(r(6), 0xF0F0F0F0u ^ 0xF8F00000u);
  setFlags(0);
  exec();
  EXPECT_EQ(r(7), ~0x1E00001Eu);
  EXPECT_EQ(flags(), N_ | C_);
  exec();
  EXPECT_EQ(flags(), Z_ | C_);  // TEQ of equal values; C from LSL #0 stays
  setFlags(0);
  exec();
  EXPECT_EQ(flags(), C_);  // 0x8F00000F & 0x1E00001E, bit 31 shifted out into C
}

// ---- register-controlled shifts ----

TEST_F(Thumb32, RegisterShiftsUseTheBottomByteIncludingThirtyTwoAndBeyond) {
  code({W(0xFA11F002 /* lsls.w r0, r1, r2 */), W(0xFA11F002 /* lsls.w r0, r1, r2 */),
        W(0xFA11F002 /* lsls.w r0, r1, r2 */), W(0xFA31F002 /* lsrs.w r0, r1, r2 */),
        W(0xFA51F002 /* asrs.w r0, r1, r2 */), W(0xFA71F002 /* rors.w r0, r1, r2 */),
        W(0xFA71F002 /* rors.w r0, r1, r2 */), W(0xFA21F002 /* lsr.w r0, r1, r2 */)});
  r(1) = 0x80000001;
  r(2) = 32;
  setFlags(0);
  exec();  // LSL 32: 0, carry = bit 0
  EXPECT_EQ(r(0), 0u);
  EXPECT_EQ(flags(), Z_ | C_);
  r(2) = 33;
  exec();  // LSL 33: 0, carry 0
  EXPECT_EQ(flags(), Z_);
  r(2) = 0x100;  // bottom byte 0: value and carry unchanged
  setFlags(C_);
  exec();
  EXPECT_EQ(r(0), 0x80000001u);
  EXPECT_EQ(flags(), N_ | C_);
  r(2) = 0x120;  // 32
  setFlags(0);
  exec();
  EXPECT_EQ(r(0), 0u);
  EXPECT_EQ(flags(), Z_ | C_);
  r(2) = 200;
  exec();  // ASR by more than 32: all sign
  EXPECT_EQ(r(0), 0xFFFFFFFFu);
  EXPECT_EQ(flags(), N_ | C_);
  r(2) = 32;
  setFlags(0);
  exec();  // ROR 32: unchanged, carry = bit 31
  EXPECT_EQ(r(0), 0x80000001u);
  EXPECT_EQ(flags(), N_ | C_);
  r(2) = 1;
  setFlags(0);
  exec();
  EXPECT_EQ(r(0), 0xC0000000u);
  EXPECT_EQ(flags(), N_ | C_);
  r(2) = 4;
  setFlags(Z_);
  exec();  // without S the flags stay
  EXPECT_EQ(r(0), 0x08000000u);
  EXPECT_EQ(flags(), Z_);
}

// ---- plain binary immediate: MOVW/MOVT, bit fields, saturation ----

TEST_F(Thumb32, MovwAndMovtBuildAWord) {
  code({W(0xF64B60EF /* movw r0, #0xBEEF */), W(0xF6CD60AD /* movt r0, #0xDEAD */),
        W(0xF6CF71FF /* movt r1, #0xFFFF */)});
  r(1) = 0x1234;
  exec(3);
  EXPECT_EQ(r(0), 0xDEADBEEFu);
  EXPECT_EQ(r(1), 0xFFFF1234u);
}

TEST_F(Thumb32, BitFieldsUpToTheTopBit) {
  code({W(0xF3C1001F /* ubfx r0, r1, #0, #32 */), W(0xF34172C0 /* sbfx r2, r1, #31, #1 */),
        W(0xF3C17303 /* ubfx r3, r1, #28, #4 */),
        W(0xF3411407 /* sbfx r4, r1, #4, #8 */), W(0xF361051F /* bfi r5, r1, #0, #32 */),
        W(0xF36176DF /* bfi r6, r1, #31, #1 */),
        W(0xF36F170B /* bfc r7, #4, #8 */), W(0xF361280B /* bfi r8, r1, #8, #4 */)});
  r(1) = 0x9ABCDEF1;
  r(5) = r(6) = r(7) = r(8) = 0x12345678;
  exec(8);
  EXPECT_EQ(r(0), 0x9ABCDEF1u);
  EXPECT_EQ(r(2), 0xFFFFFFFFu);
  EXPECT_EQ(r(3), 0x9u);
  EXPECT_EQ(r(4), 0xFFFFFFEFu);
  EXPECT_EQ(r(5), 0x9ABCDEF1u);
  EXPECT_EQ(r(6), 0x92345678u);
  EXPECT_EQ(r(7), 0x12345008u);
  EXPECT_EQ(r(8), 0x12345178u);
}

TEST_F(Thumb32, BitFieldPastBitThirtyOneIsUndefined) {
  // ubfx r0, r1, #4, #29 and bfi r0, r1, #8, #0 (msb below lsb) cannot be assembled.
  code({W(0xF3C1101C)});
  EXPECT_EQ(execFault(), FaultKind::UndefinedInstruction);
  SetUp();
  code({W(0xF3612007)});
  EXPECT_EQ(execFault(), FaultKind::UndefinedInstruction);
}

TEST_F(Thumb32, SaturationClampsAndSetsQOnlyWhenItClamps) {
  code({W(0xF3010007 /* ssat r0, #8, r1 */), W(0xF3010007 /* ssat r0, #8, r1 */),
        W(0xF3010007 /* ssat r0, #8, r1 */), W(0xF3810008 /* usat r0, #8, r1 */),
        W(0xF3810008 /* usat r0, #8, r1 */), W(0xF321100F /* ssat r0, #16, r1, asr #4 */),
        W(0xF381005F /* usat r0, #31, r1, lsl #1 */),
        W(0xF301001F /* ssat r0, #32, r1 */)});
  r(1) = 100;
  exec();
  EXPECT_EQ(r(0), 100u);
  EXPECT_FALSE(core.q_);
  r(1) = 300;
  exec();
  EXPECT_EQ(r(0), 127u);
  EXPECT_TRUE(core.q_);
  core.q_ = false;
  r(1) = uint32_t(-300);
  exec();
  EXPECT_EQ(r(0), uint32_t(-128));
  EXPECT_TRUE(core.q_);
  core.q_ = false;
  r(1) = uint32_t(-5);
  exec();
  EXPECT_EQ(r(0), 0u);
  EXPECT_TRUE(core.q_);
  r(1) = 0x12345;
  exec();
  EXPECT_EQ(r(0), 255u);
  core.q_ = false;
  r(1) = 0x80000;  // >> 4 = 0x8000: one past the largest 16-bit signed value
  exec();
  EXPECT_EQ(r(0), 0x7FFFu);
  EXPECT_TRUE(core.q_);
  core.q_ = false;
  r(1) = 0x40000000;  // << 1 = 0x80000000, negative: clamps to 0
  exec();
  EXPECT_EQ(r(0), 0u);
  EXPECT_TRUE(core.q_);
  core.q_ = false;
  r(1) = 0x80000000;  // 32 bits always fit
  exec();
  EXPECT_EQ(r(0), 0x80000000u);
  EXPECT_FALSE(core.q_);
}

// ---- extends, byte reversal, CLZ ----

TEST_F(Thumb32, ExtendsWithRotationAndByteReversal) {
  code({W(0xFA4FF091 /* sxtb.w r0, r1, ror #8 */), W(0xFA5FF2B1 /* uxtb.w r2, r1, ror #24 */),
        W(0xFA0FF381 /* sxth.w r3, r1 */),
        W(0xFA1FF4A1 /* uxth.w r4, r1, ror #16 */), W(0xFA91F581 /* rev.w r5, r1 */),
        W(0xFA91F691 /* rev16.w r6, r1 */), W(0xFA91F7B1 /* revsh.w r7, r1 */),
        W(0xFA91F8A1 /* rbit r8, r1 */), W(0xFAB1F981 /* clz r9, r1 */),
        W(0xFABBFA8B /* clz r10, r11 */)});
  r(1) = 0x12F48086, r(11) = 0;
  exec(10);
  EXPECT_EQ(r(0), 0xFFFFFF80u);
  EXPECT_EQ(r(2), 0x12u);
  EXPECT_EQ(r(3), 0xFFFF8086u);
  EXPECT_EQ(r(4), 0x12F4u);
  EXPECT_EQ(r(5), 0x8680F412u);
  EXPECT_EQ(r(6), 0xF4128680u);
  EXPECT_EQ(r(7), 0xFFFF8680u);
  EXPECT_EQ(r(8), 0x61012F48u);
  EXPECT_EQ(r(9), 3u);
  EXPECT_EQ(r(10), 32u);
}

// ---- multiply and divide ----

TEST_F(Thumb32, MultiplyAccumulateAndSubtract) {
  code({W(0xFB01F002 /* mul.w r0, r1, r2 */), W(0xFB014302 /* mla r3, r1, r2, r4 */),
        W(0xFB014512 /* mls r5, r1, r2, r4 */)});
  r(1) = 0x10001, r(2) = 0x10001, r(4) = 5;
  setFlags(Z_);
  exec(3);
  EXPECT_EQ(r(0), 0x00020001u);
  EXPECT_EQ(r(3), 0x00020006u);
  EXPECT_EQ(r(5), 5u - 0x00020001u);
  EXPECT_EQ(flags(), Z_);  // the 32-bit forms never set flags
}

TEST_F(Thumb32, LongMultipliesKeepTheirSigns) {
  code({W(0xFB820103 /* smull r0, r1, r2, r3 */), W(0xFBA24503 /* umull r4, r5, r2, r3 */),
        W(0xFBC26703 /* smlal r6, r7, r2, r3 */),
        W(0xFBE28902 /* umlal r8, r9, r2, r2 */)});
  r(2) = uint32_t(-3), r(3) = 7;
  r(6) = 0xFFFFFFFF, r(7) = 0;  // + 0x00000000FFFFFFFF
  r(8) = 1, r(9) = 1;
  exec(4);
  EXPECT_EQ(r(0), uint32_t(-21));
  EXPECT_EQ(r(1), 0xFFFFFFFFu);
  uint64_t u = uint64_t(0xFFFFFFFDu) * 7;
  EXPECT_EQ(r(4), uint32_t(u));
  EXPECT_EQ(r(5), uint32_t(u >> 32));
  EXPECT_EQ(r(6), 0xFFFFFFFFu - 21);  // -21 + 0xFFFFFFFF carries into the high word
  EXPECT_EQ(r(7), 0u);
  uint64_t sq = uint64_t(0xFFFFFFFDu) * 0xFFFFFFFDu + 0x100000001ull;
  EXPECT_EQ(r(8), uint32_t(sq));
  EXPECT_EQ(r(9), uint32_t(sq >> 32));
}

TEST_F(Thumb32, DivideRoundsTowardZeroAndHandlesTheOverflowCase) {
  code({W(0xFB91F0F2 /* sdiv r0, r1, r2 */), W(0xFB94F3F5 /* sdiv r3, r4, r5 */),
        W(0xFBB4F6F5 /* udiv r6, r4, r5 */), W(0xFB91F7F8 /* sdiv r7, r1, r8 */),
        W(0xFBB1F9F8 /* udiv r9, r1, r8 */)});
  r(1) = 0x80000000, r(2) = 0xFFFFFFFF;
  r(4) = uint32_t(-7), r(5) = 2;
  r(7) = r(9) = 123, r(8) = 0;
  exec(5);
  EXPECT_EQ(r(0), 0x80000000u);
  EXPECT_EQ(r(3), uint32_t(-3));
  EXPECT_EQ(r(6), 0xFFFFFFF9u / 2);
  EXPECT_EQ(r(7), 0u);  // by zero without the trap: 0
  EXPECT_EQ(r(9), 0u);
}

TEST_F(Thumb32, DivideByZeroFaultsWhenTheTrapIsOn) {
  core.divideByZeroTraps = [] { return true; };
  code({W(0xFBB1F0F2 /* udiv r0, r1, r2 */)});
  r(0) = 55, r(1) = 1, r(2) = 0;
  EXPECT_EQ(execFault(), FaultKind::DivideByZero);
  EXPECT_EQ(r(0), 55u);
  EXPECT_EQ(pc(), kCode);
}

// ---- loads and stores ----

TEST_F(Thumb32, SingleLoadsAndStoresInEveryAddressingMode) {
  code({W(0xF8C01104 /* str.w r1, [r0, #0x104] */), W(0xF8D02104 /* ldr.w r2, [r0, #0x104] */),
        W(0xF8401D04 /* str r1, [r0, #-4]! */),
        W(0xF8503B08 /* ldr r3, [r0], #8 */), W(0xF8504025 /* ldr.w r4, [r0, r5, lsl #2] */),
        W(0xF8A01002 /* strh.w r1, [r0, #2] */),
        W(0xF9B06002 /* ldrsh.w r6, [r0, #2] */), W(0xF8001C01 /* strb r1, [r0, #-1] */),
        W(0xF9107C01 /* ldrsb.w r7, [r0, #-1] */),
        W(0xF8108C01 /* ldrb.w r8, [r0, #-1] */), W(0xF8309902 /* ldrh r9, [r0], #-2 */)});
  r(0) = kData, r(1) = 0xCAFE8A9C, r(5) = 1;
  exec(2);
  EXPECT_EQ(word(kData + 0x104), 0xCAFE8A9Cu);
  EXPECT_EQ(r(2), 0xCAFE8A9Cu);
  exec();  // pre-indexed with write-back, negative
  EXPECT_EQ(r(0), kData - 4);
  EXPECT_EQ(word(kData - 4), 0xCAFE8A9Cu);
  exec();  // post-indexed: loads from the old base
  EXPECT_EQ(r(3), 0xCAFE8A9Cu);
  EXPECT_EQ(r(0), kData + 4);
  setWord(kData + 8, 0x600DF00D);
  exec();  // register offset: kData + 4 + 1 * 4
  EXPECT_EQ(r(4), 0x600DF00Du);
  exec(2);
  EXPECT_EQ(r(6), 0xFFFF8A9Cu);
  exec(3);
  EXPECT_EQ(r(7), 0xFFFFFF9Cu);
  EXPECT_EQ(r(8), 0x9Cu);
  exec();
  EXPECT_EQ(r(9), word(kData + 4) & 0xFFFF);
  EXPECT_EQ(r(0), kData + 2);
}

TEST_F(Thumb32, LiteralLoadsUseTheWordAlignedPc) {
  // At kCode + 2 the PC operand is kCode + 6, aligned down to kCode + 4.
  code({N(0xBF00 /* nop */), W(0xF8DF0008 /* ldr.w r0, [pc, #8] */),
        W(0xF93F1002 /* ldrsh.w r1, [pc, #-2] */), N(0xBF00 /* nop */), N(0xBF00 /* nop */),
        W(0x11223344)});
  exec(3);
  uint32_t literal;
  std::memcpy(&literal, &flash[kCode + 12], 4);
  EXPECT_EQ(r(0), literal);
  int16_t half;
  std::memcpy(&half, &flash[kCode + 6], 2);  // kCode + 8 - 2
  EXPECT_EQ(r(1), uint32_t(int32_t(half)));
}

TEST_F(Thumb32, UnprivilegedAndHintFormsBehaveAsPlainAccessesAndNops) {
  code({W(0xF8510E04 /* ldrt r0, [r1, #4] */), W(0xF8012E01 /* strbt r2, [r1, #1] */),
        W(0xF893F010 /* pld [r3, #0x10] */), W(0xF913F004 /* pli [r3, r4] */),
        W(0xF81FF010 /* pld [pc, #-16] */)});
  r(1) = kData, r(2) = 0x77, r(3) = kUnmapped, r(4) = 0;
  setWord(kData + 4, 0x5A5A5A5A);
  exec(5);
  EXPECT_EQ(r(0), 0x5A5A5A5Au);
  EXPECT_EQ(ram[kData - kRam + 1], 0x77);
}

TEST_F(Thumb32, LoadToPcInterworksAndAFaultingLoadChangesNothing) {
  code({W(0xF850FB04 /* ldr.w pc, [r0], #4 */)});
  r(0) = kData;
  setWord(kData, kCode + 0x201);
  exec();
  EXPECT_EQ(pc(), kCode + 0x200);
  EXPECT_EQ(r(0), kData + 4);
  code({W(0xF8521F04 /* ldr r1, [r2, #4]! */)}, kCode + 0x200);
  r(1) = 9, r(2) = kUnmapped;
  EXPECT_EQ(execFault(), FaultKind::PreciseBus);
  EXPECT_EQ(r(1), 9u);
  EXPECT_EQ(r(2), kUnmapped);  // no write-back
  EXPECT_EQ(pc(), kCode + 0x200);
}

TEST_F(Thumb32, DualLoadsAndStoresWithWriteBackAndAlignment) {
  code({W(0xE9602302 /* strd r2, r3, [r0, #-8]! */), W(0xE8F04502 /* ldrd r4, r5, [r0], #8 */),
        W(0xE9506702 /* ldrd r6, r7, [r0, #-8] */),
        W(0xE9DF8901 /* ldrd r8, r9, [pc, #4] */), N(0xBF00 /* nop */),
        W(0x01020304), W(0x05060708), W(0xE9D02300 /* ldrd r2, r3, [r0] */)});
  r(0) = kData, r(2) = 0x11111111, r(3) = 0x22222222;
  exec();
  EXPECT_EQ(r(0), kData - 8);
  EXPECT_EQ(word(kData - 8), 0x11111111u);
  EXPECT_EQ(word(kData - 4), 0x22222222u);
  exec();
  EXPECT_EQ(r(4), 0x11111111u);
  EXPECT_EQ(r(5), 0x22222222u);
  EXPECT_EQ(r(0), kData);
  exec(2);
  EXPECT_EQ(r(6), 0x11111111u);
  EXPECT_EQ(r(7), 0x22222222u);
  uint32_t lo, hi;
  std::memcpy(&lo, &flash[kCode + 20], 4);  // Align(kCode + 12 + 4, 4) + 4
  std::memcpy(&hi, &flash[kCode + 24], 4);
  EXPECT_EQ(r(8), lo);
  EXPECT_EQ(r(9), hi);
  jump(kCode + 26);  // the last one, from a base that is not word-aligned
  r(0) = kData + 2;
  EXPECT_EQ(execFault(), FaultKind::Unaligned);
}

TEST_F(Thumb32, ExclusiveStoreSucceedsOnlyAfterAMatchingLoad) {
  code({W(0xE8501F00 /* ldrex r1, [r0] */), W(0xE8403200 /* strex r2, r3, [r0] */),
        W(0xE8404200 /* strex r2, r4, [r0] */), W(0xE8501F01 /* ldrex r1, [r0, #4] */),
        W(0xF3BF8F2F /* clrex */), W(0xE8404201 /* strex r2, r4, [r0, #4] */),
        W(0xE8D05F5F /* ldrexh r5, [r0] */), W(0xE8C04F52 /* strexh r2, r4, [r0] */),
        W(0xE8D06F4F /* ldrexb r6, [r0] */), W(0xE8C73F42 /* strexb r2, r3, [r7] */)});
  r(0) = kData, r(3) = 0xAAAA5555, r(4) = 0x12344321, r(7) = kData + 1;
  setWord(kData, 7);
  exec(2);
  EXPECT_EQ(r(1), 7u);
  EXPECT_EQ(r(2), 0u);
  EXPECT_EQ(word(kData), 0xAAAA5555u);
  exec();  // the monitor closed with the first store
  EXPECT_EQ(r(2), 1u);
  EXPECT_EQ(word(kData), 0xAAAA5555u);
  exec(3);  // CLREX in between
  EXPECT_EQ(r(2), 1u);
  EXPECT_EQ(word(kData + 4), 0u);
  exec(2);
  EXPECT_EQ(r(5), 0x5555u);
  EXPECT_EQ(r(2), 0u);
  EXPECT_EQ(word(kData), 0xAAAA4321u);
  exec(2);  // a different address than the one loaded: fails
  EXPECT_EQ(r(6), 0x21u);
  EXPECT_EQ(r(2), 1u);
}

TEST_F(Thumb32, UnalignedExclusiveFaults) {
  code({W(0xE8501F00 /* ldrex r1, [r0] */)});
  r(0) = kData + 2;
  EXPECT_EQ(execFault(), FaultKind::Unaligned);
}

TEST_F(Thumb32, TableBranchesByteAndHalfword) {
  // tbb [pc, r0] at kCode: the table starts at kCode + 4.
  code({W(0xE8DFF000 /* tbb [pc, r0] */), N(0x0803)});
  r(0) = 1;
  exec();
  EXPECT_EQ(pc(), kCode + 4 + 2 * 8);
  code({W(0xE8D1F010 /* tbh [r1, r0, lsl #1] */)}, kCode + 0x20);
  jump(kCode + 0x20);
  r(1) = kData, r(0) = 2;
  setWord(kData + 4, 0x00000100);
  exec();
  EXPECT_EQ(pc(), kCode + 0x24 + 0x200);
}

TEST_F(Thumb32, LoadMultipleIntoPcAndWriteBack) {
  code({W(0xE8B08006 /* ldmia.w r0!, {r1, r2, pc} */)});
  r(0) = kData;
  setWord(kData, 10), setWord(kData + 4, 20), setWord(kData + 8, kCode + 0x41);
  exec();
  EXPECT_EQ(r(1), 10u);
  EXPECT_EQ(r(2), 20u);
  EXPECT_EQ(r(0), kData + 12);
  EXPECT_EQ(pc(), kCode + 0x40);
  code({W(0xE92D4030 /* push.w {r4, r5, lr} */), W(0xE8BD80C0 /* pop.w {r6, r7, pc} */)}, kCode + 0x40);
  r(4) = 4, r(5) = 5, r(14) = kCode + 0x81;
  uint32_t sp = r(13);
  exec();
  EXPECT_EQ(r(13), sp - 12);
  EXPECT_EQ(word(sp - 12), 4u);
  EXPECT_EQ(word(sp - 4), kCode + 0x81);
  exec();
  EXPECT_EQ(r(6), 4u);
  EXPECT_EQ(r(7), 5u);
  EXPECT_EQ(r(13), sp);
  EXPECT_EQ(pc(), kCode + 0x80);
  code({W(0xE9100003 /* ldmdb r0, {r0, r1} */),
        W(0xE8A20018 /* stmia.w r2!, {r3, r4} */)}, kCode + 0x80);
  r(0) = kData + 8;
  exec();  // the base is in the list: it gets the loaded value
  EXPECT_EQ(r(0), 10u);
  EXPECT_EQ(r(1), 20u);
  r(2) = kData + 0x40, r(3) = 3, r(4) = 4;
  exec();
  EXPECT_EQ(word(kData + 0x40), 3u);
  EXPECT_EQ(word(kData + 0x44), 4u);
  EXPECT_EQ(r(2), kData + 0x48);
}

TEST_F(Thumb32, LoadMultipleThatFaultsPartWayKeepsEveryRegister) {
  code({W(0xE8900007 /* ldmia.w r0, {r0, r1, r2} */)});
  r(0) = kRam + kRamSize - 8, r(1) = 1, r(2) = 2;  // the third word is past the end of RAM
  setWord(kRam + kRamSize - 8, 0xAA), setWord(kRam + kRamSize - 4, 0xBB);
  EXPECT_EQ(execFault(), FaultKind::PreciseBus);
  EXPECT_EQ(r(0), kRam + kRamSize - 8);
  EXPECT_EQ(r(1), 1u);
  EXPECT_EQ(r(2), 2u);
}

// ---- branches and control ----

TEST_F(Thumb32, BranchesReachFarBothWays) {
  code({W(0xF03FFF7E /* bl .+0x3FF00 */), W(0xF7FFBBFE /* b.w .-0x800 */)});
  exec();
  EXPECT_EQ(pc(), kCode + 0x3FF00);
  EXPECT_EQ(r(14), (kCode + 4) | 1);
  jump(kCode + 4);
  exec();
  EXPECT_EQ(pc(), kCode + 4 - 0x800);
}

TEST_F(Thumb32, ConditionalBranchFollowsTheFlags) {
  code({W(0xF040807E /* bne.w .+0x100 */), W(0xF43FAFDE /* beq.w .-0x40 */)});
  setFlags(Z_);
  exec();  // not taken
  EXPECT_EQ(pc(), kCode + 4);
  exec();
  EXPECT_EQ(pc(), kCode + 4 - 0x40);
}

TEST_F(Thumb32, InsideAnItBlockA32BitInstructionRunsOnlyWhenItsConditionHolds) {
  code({N(0xBF0C /* ite eq */), W(0xF1000001 /* addeq.w r0, r0, #1 */),
        W(0xF1010101 /* addne.w r1, r1, #1 */), N(0xBF18 /* it ne */),
        W(0xF8D32000 /* ldrne.w r2, [r3] */),
        W(0xF1040401 /* add.w r4, r4, #1 */)});
  r(3) = kUnmapped;  // a skipped load must not fault
  setFlags(Z_);
  exec(6);
  EXPECT_EQ(r(0), 1u);
  EXPECT_EQ(r(1), 0u);
  EXPECT_EQ(r(2), 0u);
  EXPECT_EQ(r(4), 1u);
  EXPECT_EQ(pc(), kCode + 20);
}

TEST_F(Thumb32, SpecialRegistersAndHints) {
  code({W(0xF3808800 /* msr APSR_nzcvq, r0 */), W(0xF3EF8100 /* mrs r1, APSR */),
        W(0xF3EF8210 /* mrs r2, PRIMASK */), W(0xF3AF8000 /* nop.w */), W(0xF3BF8F4F /* dsb sy */),
        W(0xF3BF8F5F /* dmb sy */), W(0xF3BF8F6F /* isb sy */),
        W(0xF3AF8005) /* an unallocated hint: a NOP */});
  r(0) = 0xF8000000;
  exec(2);
  EXPECT_EQ(flags(), N_ | Z_ | C_ | V_);
  EXPECT_TRUE(core.q_);
  EXPECT_EQ(r(1) & 0xF8000000, 0xF8000000u);
  exec(6);
  EXPECT_EQ(r(2), 0u);
  EXPECT_EQ(pc(), kCode + 32);
}

TEST_F(Thumb32, WhatTheCortexM3LacksIsUndefinedOrNoCoprocessor) {
  struct Case {
    uint32_t insn;
    FaultKind kind;
    const char* what;
  };
  const Case cases[] = {
      {W(0xFA41F082 /* sxtab r0, r1, r2 */).bits, FaultKind::UndefinedInstruction, "SXTAB (DSP)"},
      {W(0xFA82F081 /* qadd r0, r1, r2 */).bits, FaultKind::UndefinedInstruction, "QADD (DSP)"},
      {W(0xF3210003 /* ssat16 r0, #4, r1 */).bits, FaultKind::UndefinedInstruction, "SSAT16 (DSP)"},
      {W(0xFB113002 /* smlabb r0, r1, r2, r3 */).bits, FaultKind::UndefinedInstruction, "SMLABB (DSP)"},
      {0xE8C12370, FaultKind::UndefinedInstruction, "STREXD r0, r2, r3, [r1] (not in ARMv7-M)"},
      {0xF000E800, FaultKind::UndefinedInstruction, "BLX to ARM state"},
      {0xF8CF0004, FaultKind::UndefinedInstruction, "STR with the PC as base"},
      {0xF9010004, FaultKind::UndefinedInstruction, "store with the sign bit (SIMD element space)"},
      {W(0xEE010F10 /* mcr p15, 0, r0, c1, c0, 0 */).bits, FaultKind::NoCoprocessor, "MCR"},
      {W(0xEE300A81 /* vadd.f32 s0, s1, s2 */).bits, FaultKind::NoCoprocessor, "VADD (no FPU)"},
  };
  for (const Case& c : cases) {
    SetUp();
    code({W(c.insn)});
    r(1) = kData;
    EXPECT_EQ(execFault(), c.kind) << c.what;
    EXPECT_EQ(pc(), kCode) << c.what;
  }
}

TEST_F(Thumb32, CycleCountsFollowTheCortexM3Timings) {
  struct Case {
    uint32_t insn;
    uint64_t cycles;
    const char* what;
  };
  const Case cases[] = {
      {W(0xF1010001 /* add.w r0, r1, #1 */).bits, 1, "ALU"},
      {W(0xF8D20000 /* ldr.w r0, [r2] */).bits, 2, "LDR"},
      {W(0xF8C20004 /* str.w r0, [r2, #4] */).bits, 1, "STR with an immediate offset"},
      {W(0xF8420023 /* str.w r0, [r2, r3, lsl #2] */).bits, 2, "STR with a register offset"},
      {W(0xE9D20100 /* ldrd r0, r1, [r2] */).bits, 3, "LDRD"},
      {W(0xE892001B /* ldmia.w r2, {r0, r1, r3, r4} */).bits, 5, "LDM of four"},
      {W(0xFB011001 /* mla r0, r1, r1, r1 */).bits, 2, "MLA"},
      {W(0xFBA30103 /* umull r0, r1, r3, r3 */).bits, 3, "UMULL of small operands"},
      {W(0xFBA40104 /* umull r0, r1, r4, r4 */).bits, 5, "UMULL of full-width operands"},
      {W(0xFBB4F0F3 /* udiv r0, r4, r3 */).bits, 12, "UDIV of 32 quotient bits"},
      {W(0xFBB3F0F4 /* udiv r0, r3, r4 */).bits, 2, "UDIV with a zero quotient"},
  };
  for (const Case& c : cases) {
    SetUp();
    code({W(c.insn)});
    r(2) = kData, r(3) = 1, r(4) = 0xFFFFFFFF;
    uint64_t before = core.cycles();
    exec();
    EXPECT_EQ(core.cycles() - before, c.cycles) << c.what;
  }
}

}  // namespace
