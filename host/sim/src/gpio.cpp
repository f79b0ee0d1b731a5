#include "gpio.h"

namespace korvel::sim {

namespace {
enum : uint32_t { kDir = 0x00, kMask = 0x10, kPin = 0x14, kSet = 0x18, kClr = 0x1C };
}

void Gpio::reset() {
  for (int p = 0; p < kPorts; ++p) {
    uint32_t before = levels(p);
    ports_[p].dir = ports_[p].mask = ports_[p].out = 0;
    uint32_t after = levels(p);
    if (before != after && onLevelsChanged) onLevelsChanged(p, before, after);
  }
}

void Gpio::setFunctionPins(int port, uint32_t mask, uint32_t fnLevels) {
  if (port < 0 || port >= kPorts) return;
  uint32_t before = levels(port);
  ports_[port].fnMask = mask;
  ports_[port].fnOut = fnLevels & mask;
  uint32_t after = levels(port);
  if (before != after && onLevelsChanged) onLevelsChanged(port, before, after);
}

void Gpio::setInputs(int port, uint32_t in) {
  if (port < 0 || port >= kPorts) return;
  uint32_t before = levels(port);
  ports_[port].in = in;
  uint32_t after = levels(port);
  if (before != after && onLevelsChanged) onLevelsChanged(port, before, after);
}

void Gpio::drive(int port, uint32_t newOut, uint32_t newDir, Access access) {
  Port& p = ports_[port];
  uint32_t before = levels(port);
  bool changed = newOut != p.out || newDir != p.dir;
  p.out = newOut;
  p.dir = newDir;
  uint32_t after = levels(port);
  if (before != after && onLevelsChanged) onLevelsChanged(port, before, after);
  if (changed && access == Access::Firmware && onOutputChanged) onOutputChanged(port);
}

uint32_t Gpio::read(uint32_t offset, uint32_t size, Access access) {
  int port = int(offset / 0x20);
  if (port >= kPorts) return 0;
  const Port& p = ports_[port];
  uint32_t reg = offset % 0x20 & ~3u, v = 0;
  switch (reg) {
    case kDir: v = p.dir; break;
    case kMask: v = p.mask; break;
    // Masked pins read as 0 for the firmware; the plug-in always sees the real levels.
    case kPin: v = access == Access::Firmware ? levels(port) & ~p.mask : levels(port); break;
    case kSet: v = p.out; break;
    default: v = 0; break;
  }
  return laneRead(v, offset, size);
}

void Gpio::write(uint32_t offset, uint32_t value, uint32_t size, Access access) {
  int port = int(offset / 0x20);
  if (port >= kPorts) return;
  Port& p = ports_[port];
  uint32_t reg = offset % 0x20 & ~3u;
  // A byte or half-word access touches only its lanes; the other lanes are untouched
  // (for SET/CLR that means "no change", for DIR/MASK/PIN "keep").
  uint32_t lanes = laneMerge(0, offset, 0xFFFFFFFF, size);
  uint32_t v = laneMerge(0, offset, value, size);
  // The mask keeps masked pins out of PIN, SET and CLR writes, as on the chip.
  uint32_t writable = lanes & ~p.mask;
  switch (reg) {
    case kDir: drive(port, p.out, (p.dir & ~lanes) | (v & lanes), access); break;
    case kMask: p.mask = (p.mask & ~lanes) | (v & lanes); break;
    case kPin: drive(port, (p.out & ~writable) | (v & writable), p.dir, access); break;
    case kSet: drive(port, p.out | (v & writable), p.dir, access); break;
    case kClr: drive(port, p.out & ~(v & writable), p.dir, access); break;
    default: break;
  }
}

// ---- GPIO interrupts -------------------------------------------------------------------------

namespace {
enum : uint32_t {
  kStatus = 0x80,
  k0StatR = 0x84, k0StatF = 0x88, k0Clr = 0x8C, k0EnR = 0x90, k0EnF = 0x94,
  k2StatR = 0xA4, k2StatF = 0xA8, k2Clr = 0xAC, k2EnR = 0xB0, k2EnF = 0xB4,
};
}

void GpioInterrupts::reset() {
  p0_ = p2_ = Port{};
  update();
}

bool GpioInterrupts::line() const { return (p0_.statR | p0_.statF | p2_.statR | p2_.statF) != 0; }

void GpioInterrupts::update() {
  if (onLine) onLine(line());
}

void GpioInterrupts::edges(int port, uint32_t rising, uint32_t falling) {
  Port* p = port == 0 ? &p0_ : port == 2 ? &p2_ : nullptr;
  if (!p) return;
  p->statR |= rising & p->enR;
  p->statF |= falling & p->enF;
  update();
}

uint32_t GpioInterrupts::read(uint32_t offset, uint32_t size, Access) {
  uint32_t v = 0;
  switch (offset & ~3u) {
    case kStatus: v = ((p0_.statR | p0_.statF) ? 1 : 0) | ((p2_.statR | p2_.statF) ? 4 : 0); break;
    case k0StatR: v = p0_.statR; break;
    case k0StatF: v = p0_.statF; break;
    case k0EnR: v = p0_.enR; break;
    case k0EnF: v = p0_.enF; break;
    case k2StatR: v = p2_.statR; break;
    case k2StatF: v = p2_.statF; break;
    case k2EnR: v = p2_.enR; break;
    case k2EnF: v = p2_.enF; break;
    default: break;
  }
  return laneRead(v, offset, size);
}

void GpioInterrupts::write(uint32_t offset, uint32_t value, uint32_t size, Access) {
  uint32_t v = laneMerge(0, offset, value, size);
  switch (offset & ~3u) {
    case k0Clr: p0_.statR &= ~v; p0_.statF &= ~v; break;
    case k0EnR: p0_.enR = v; break;
    case k0EnF: p0_.enF = v; break;
    case k2Clr: p2_.statR &= ~v; p2_.statF &= ~v; break;
    case k2EnR: p2_.enR = v; break;
    case k2EnF: p2_.enF = v; break;
    default: return;
  }
  update();
}

}  // namespace korvel::sim
