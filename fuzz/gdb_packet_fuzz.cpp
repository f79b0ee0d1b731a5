// Feeds arbitrary bytes, as a debugger's connection would carry them, to korvel-sim's GDB
// remote protocol (framing, escapes, every command) over a small fake target. The target traps
// on any request outside its memory, and every reply must stay within the packet size.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "gdb_protocol.h"

namespace {
using namespace korvel::simapp::gdb;

struct Target : DebugTarget {
  uint8_t memory[256] = {};
  Registers regs{};
  bool inside(uint32_t a, size_t n) const { return a >= 0x100 && n <= 0x100 && a - 0x100 <= 0x100 - n; }
  bool readRegisters(Registers* r) override { return *r = regs, true; }
  bool writeRegisters(const Registers& r) override { return regs = r, true; }
  bool readMemory(uint32_t a, size_t n, uint8_t* out) override {
    if (n > kMaxPacket) __builtin_trap();  // a read the reply could never carry
    if (!inside(a, n)) return false;
    std::memcpy(out, memory + (a - 0x100), n);
    return true;
  }
  bool writeMemory(uint32_t a, size_t n, const uint8_t* in) override {
    if (n > kMaxPacket) __builtin_trap();
    if (!inside(a, n)) return false;
    std::memcpy(memory + (a - 0x100), in, n);
    return true;
  }
  bool setBreakpoint(uint32_t, bool) override { return true; }
  bool setWatchpoint(uint32_t, uint32_t length, WatchKind, bool) override {
    if (length == 0) __builtin_trap();
    return true;
  }
  void resume() override {}
  void step() override {}
  void interrupt() override {}
  void reset() override {}
  bool eraseFlash(uint32_t a, uint32_t n) override { return inside(a, n) ? (std::memset(memory + (a - 0x100), 0xFF, n), true) : false; }
  void flashDone() override {}
  void detach() override {}
  void kill() override {}
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Target target;
  auto c = std::make_unique<Connection>(target);
  // The input arrives in pieces whose sizes come from the input itself; the target stops after
  // every continue so all states are reached.
  size_t pos = 0;
  while (pos < size) {
    size_t n = std::min<size_t>(size - pos, 1 + data[pos] % 64);
    std::string out = c->receive(data + pos, n);
    pos += n;
    if (c->running()) out += c->stopped({StopEvent::Kind(pos % 6), uint32_t(pos), int(pos), "report\nline"});
    if (out.size() > 2 * kMaxPacket + 64) __builtin_trap();
    if (c->finished()) c = std::make_unique<Connection>(target);
  }
  return 0;
}
