#include "backtrace.h"

#include <bit>

namespace korvel::sim {

namespace {

const ElfSymbol* functionCovering(const std::vector<ElfSymbol>& symbols, uint32_t address) {
  address &= ~1u;
  for (const ElfSymbol& s : symbols) {
    uint32_t start = s.address & ~1u;
    if (!s.object && address >= start && address - start < s.size) return &s;
  }
  return nullptr;
}

// What an unoptimised prologue did: the registers pushed (bits 0-7, bit 8 LR), the bytes taken
// by sub sp, the offset r7 got from sp, and the address after the instruction that set r7.
struct Prologue {
  uint32_t pushed = 0;
  uint32_t sub = 0;
  uint32_t r7Offset = 0;
  uint32_t r7SetAfter = 0;
};

std::optional<Prologue> readPrologue(uint32_t start, const ReadWord& read) {
  Prologue p;
  bool pushed = false;
  uint32_t a = start;
  for (int i = 0; i < 6; ++i) {
    auto w = read(a & ~3u);
    if (!w) return std::nullopt;
    uint16_t h = uint16_t(a & 2 ? *w >> 16 : *w);
    if (!pushed && (h & 0xFE00) == 0xB400) {  // push {rlist[, lr]}
      p.pushed = (h & 0xFF) | (h & 0x100);
      pushed = true;
      a += 2;
    } else if (!pushed && h == 0xE92D) {  // push.w {rlist}
      auto w2 = read((a + 2) & ~3u);
      if (!w2) return std::nullopt;
      uint16_t list = uint16_t((a + 2) & 2 ? *w2 >> 16 : *w2);
      if (list & 0xFF00 & ~0x4000) return std::nullopt;  // r8-r12 would move r7's slot: keep it simple
      p.pushed = (list & 0xFF) | (list & 0x4000 ? 0x100 : 0);
      pushed = true;
      a += 4;
    } else if (pushed && (h & 0xFF80) == 0xB080) {  // sub sp, #imm
      p.sub += (h & 0x7F) * 4;
      a += 2;
    } else if (pushed && (h & 0xFF00) == 0xAF00) {  // add r7, sp, #imm
      p.r7Offset = (h & 0xFF) * 4;
      p.r7SetAfter = a + 2;
      break;
    } else if (pushed && h == 0x466F) {  // mov r7, sp
      p.r7SetAfter = a + 2;
      break;
    } else {
      return std::nullopt;
    }
  }
  if (!p.r7SetAfter || !(p.pushed & 0x80)) return std::nullopt;
  return p;
}

}  // namespace

std::vector<CallerFrame> framePointerCallers(const WalkStart& start, const std::vector<ElfSymbol>& symbols,
                                             const ReadWord& read, size_t limit) {
  std::vector<CallerFrame> out;
  uint32_t pc = start.pc & ~1u, lr = start.lr, r7 = start.r7;
  bool lrLive = true;  // frame 0, or code an exception interrupted: LR still holds its return address
  uint32_t lastFrame = 0;
  while (out.size() < limit) {
    const ElfSymbol* f = functionCovering(symbols, pc);
    if (!f) break;
    auto p = readPrologue(f->address & ~1u, read);
    if (!p || pc < p->r7SetAfter) break;  // r7 is not this function's frame pointer (yet)
    uint32_t afterPush = r7 - p->r7Offset + p->sub;
    if (afterPush <= lastFrame && lastFrame) break;  // the chain must climb the stack
    lastFrame = afterPush;
    unsigned low = unsigned(std::popcount(p->pushed & 0xFF));
    auto savedR7 = read(afterPush + 4 * unsigned(std::popcount(p->pushed & 0x7F)));
    if (!savedR7) break;
    uint32_t ret = 0;
    if (p->pushed & 0x100) {
      auto savedLr = read(afterPush + 4 * low);
      if (!savedLr) break;
      ret = *savedLr;
    } else if (lrLive) {
      ret = lr;
    } else {
      break;
    }
    uint32_t entrySp = afterPush + 4 * (low + (p->pushed & 0x100 ? 1 : 0));
    r7 = *savedR7;
    // EXC_RETURN of a Cortex-M3: handler/MSP, thread/MSP, thread/PSP. Anything else this high
    // (the 0xFFFFFFFF LR out of reset) ends the chain below, as no function lies there.
    if (ret == 0xFFFFFFF1 || ret == 0xFFFFFFF9 || ret == 0xFFFFFFFD) {
      // EXC_RETURN: this was a handler; the interrupted code's frame is on the stack it used.
      uint32_t frame = ret & 4 ? start.psp : entrySp;
      auto stackedPc = read(frame + 24), stackedLr = read(frame + 20);
      if (!stackedPc || !stackedLr || !functionCovering(symbols, *stackedPc)) break;
      out.push_back({*stackedPc & ~1u, true});
      pc = *stackedPc & ~1u;
      lr = *stackedLr;
      lrLive = true;
      lastFrame = 0;  // another stack, perhaps
      continue;
    }
    // A return address to Thumb code has bit 0 set, and lies inside a function.
    if (!(ret & 1) || !functionCovering(symbols, ret)) break;
    out.push_back({ret & ~1u, false});
    pc = (ret & ~1u) - 2;  // inside the call
    lrLive = false;
  }
  return out;
}

}  // namespace korvel::sim
