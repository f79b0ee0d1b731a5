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

}  // namespace korvel::sim
