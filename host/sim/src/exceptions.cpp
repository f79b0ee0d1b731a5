#include "exceptions.h"

#include <cstdio>

namespace korvel::sim {

namespace {
constexpr uint32_t kFramePadBit = 1u << 9;  // in the stacked xPSR: a word of padding was added
constexpr int kFrameRegs[] = {0, 1, 2, 3, 12, 14};
}  // namespace

void exceptionEntry(CoreAccess& core, SpecialRegisters& special, int number, uint32_t handler) {
  uint32_t frame[8];
  for (int i = 0; i < 6; ++i) frame[i] = core.reg(kFrameRegs[i]);
  frame[6] = core.reg(15);  // the return address: the next instruction to run
  uint32_t sp = special.sp();
  // The frame is 8-byte aligned (CCR.STKALIGN); the stacked xPSR records the padding word.
  bool pad = sp & 4;
  sp = (sp - 32) & ~7u;
  frame[7] = (special.xpsr & ~kFramePadBit) | (pad ? kFramePadBit : 0);
  for (int i = 0; i < 8; ++i) core.writeWord(sp + 4 * i, frame[i]);
  special.setSp(sp);

  uint32_t excReturn = special.handlerMode() ? excreturn::kHandler
                       : special.usingPsp()  ? excreturn::kThreadProcess
                                             : excreturn::kThreadMain;
  core.setReg(14, excReturn);
  // Handler mode, on the main stack; the flags survive, the IT state does not.
  special.control &= ~SpecialRegisters::kSpsel;
  special.xpsr = (special.xpsr & 0xF8000000) | 0x01000000 | uint32_t(number);
  core.setReg(15, handler);
}

int exceptionReturn(CoreAccess& core, SpecialRegisters& special, uint32_t excReturn, std::string* error) {
  bool toHandler = excReturn == excreturn::kHandler, toProcess = excReturn == excreturn::kThreadProcess;
  if (!toHandler && !toProcess && excReturn != excreturn::kThreadMain) {
    char b[64];
    std::snprintf(b, sizeof b, "exception return with invalid EXC_RETURN 0x%08X", excReturn);
    if (error) *error = b;
    return 0;
  }
  int finished = int(special.ipsr());
  uint32_t sp = toProcess ? special.psp : special.msp;
  uint32_t frame[8];
  for (int i = 0; i < 8; ++i) frame[i] = core.readWord(sp + 4 * i);
  sp += 32 + ((frame[7] & kFramePadBit) ? 4 : 0);
  (toProcess ? special.psp : special.msp) = sp;
  for (int i = 0; i < 6; ++i) core.setReg(kFrameRegs[i], frame[i]);
  uint32_t xpsr = (frame[7] & ~kFramePadBit) | 0x01000000;
  if (!toHandler) xpsr &= ~0x1FFu;  // thread mode
  special.xpsr = xpsr;
  special.control = (special.control & ~SpecialRegisters::kSpsel) | (toProcess ? SpecialRegisters::kSpsel : 0);
  core.setReg(15, frame[6] & ~1u);
  return finished;
}

uint32_t findFaultingAccess(CoreAccess& core, uint32_t from, const uint32_t regs[16], uint32_t address) {
  auto half = [&](uint32_t a) { return uint16_t(core.readWord(a & ~3u) >> (8 * (a & 2))); };
  // Whether an access at `base` (+ up to `span` bytes, for multiple transfers) covers it.
  auto near = [&](uint32_t base, uint32_t span) { return address - base <= span; };
  uint32_t a = from;
  for (int n = 0; n < 64; ++n) {
    uint16_t h = half(a);
    bool wide = (h >> 11) >= 0x1D;
    bool hit = false;
    if (!wide) {
      uint32_t rn = regs[(h >> 3) & 7], rm = regs[(h >> 6) & 7], imm5 = (h >> 6) & 31;
      if ((h >> 12) == 0x6) hit = near(rn + imm5 * 4, 3);          // LDR/STR word, imm5
      else if ((h >> 12) == 0x7) hit = near(rn + imm5, 0);         // LDRB/STRB imm5
      else if ((h >> 12) == 0x8) hit = near(rn + imm5 * 2, 1);     // LDRH/STRH imm5
      else if ((h >> 12) == 0x5) hit = near(rn + rm, 3);           // register offset
      else if ((h >> 12) == 0x9) hit = near(regs[13] + (h & 0xFF) * 4, 3);  // SP-relative
      else if ((h >> 12) == 0xC) hit = near(regs[(h >> 8) & 7], 64);        // LDM/STM
      else if ((h & 0xF600) == 0xB400) hit = near(regs[13] - 64, 128);      // PUSH/POP
      else if ((h >> 11) == 0x9) hit = near(((a + 4) & ~3u) + (h & 0xFF) * 4, 3);  // LDR literal
    } else {
      uint16_t h2 = half(a + 2);
      uint32_t rn = regs[h & 0xF];
      if ((h & 0xFE00) == 0xF800) {  // single load/store
        if (h & 0x80) hit = near(rn + (h2 & 0xFFF), 3);
        else if ((h2 & 0x0FC0) == 0) hit = near(rn + (regs[h2 & 0xF] << ((h2 >> 4) & 3)), 3);
        else if (h2 & 0x800) {
          uint32_t imm8 = h2 & 0xFF;
          uint32_t at = (h2 & 0x400) ? ((h2 & 0x200) ? rn + imm8 : rn - imm8) : rn;
          hit = near(at, 3);
        }
      } else if ((h & 0xFE00) == 0xE800) {  // LDM/STM, LDRD/STRD, exclusives
        hit = near(rn - 1020, 2040);
      }
    }
    if (hit) return a;
    a += wide ? 4 : 2;
  }
  return from;
}

}  // namespace korvel::sim
