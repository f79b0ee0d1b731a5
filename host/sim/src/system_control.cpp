#include "system_control.h"

namespace korvel::sim {

namespace {
enum : uint32_t {
  kFlashCfg = 0x000, kPll0Con = 0x080, kPll0Cfg = 0x084, kPll0Stat = 0x088, kPll0Feed = 0x08C,
  kPll1Con = 0x0A0, kPll1Cfg = 0x0A4, kPll1Stat = 0x0A8, kPll1Feed = 0x0AC, kPcon = 0x0C0,
  kPconp = 0x0C4, kCclkCfg = 0x104, kUsbClkCfg = 0x108, kClkSrcSel = 0x10C, kExtInt = 0x140,
  kExtMode = 0x148, kExtPolar = 0x14C, kRsid = 0x180, kScs = 0x1A0, kPclkSel0 = 0x1A8,
  kPclkSel1 = 0x1AC, kUsbIntSt = 0x1C0, kClkOutCfg = 0x1C8,
};
constexpr uint32_t kPllEnable = 1, kPllConnect = 2;
constexpr uint32_t kOscEnable = 1u << 5, kOscStable = 1u << 6;
constexpr uint32_t kPll0Lock = 1u << 26, kPll1Lock = 1u << 10;
}  // namespace

void SystemControl::reset() {
  pll0con_ = pll0cfg_ = pll0conActive_ = pll0cfgActive_ = 0;
  pll1con_ = pll1cfg_ = pll1conActive_ = pll1cfgActive_ = 0;
  feed0_ = feed1_ = 0;
  cclkcfg_ = clksrcsel_ = scs_ = pclksel0_ = pclksel1_ = usbclkcfg_ = pcon_ = clkoutcfg_ = 0;
  pconp_ = 0x042887DE;
  flashcfg_ = 0x303A;
  extint_ = extmode_ = extpolar_ = 0;
  usbIntSt_ = 0x80000000;
  for (int n = 0; n < 4; ++n) pinSelected_[n] = false, updateLine(n);
  if (onClockChanged) onClockChanged();
}

uint32_t SystemControl::coreClockHz() const {
  uint32_t source = (clksrcsel_ & 3) == 1 ? kMainOscHz : (clksrcsel_ & 3) == 2 ? kRtcHz : kIrcHz;
  uint64_t hz = source;
  if ((pll0conActive_ & (kPllEnable | kPllConnect)) == (kPllEnable | kPllConnect)) {
    uint64_t m = (pll0cfgActive_ & 0x7FFF) + 1, n = ((pll0cfgActive_ >> 16) & 0xFF) + 1;
    hz = 2 * m * source / n;  // FCCO
  }
  hz /= (cclkcfg_ & 0xFF) + 1;
  return hz ? uint32_t(hz) : kIrcHz;
}

uint32_t SystemControl::peripheralDivider(int field) const {
  uint32_t reg = field < 16 ? pclksel0_ : pclksel1_;
  switch ((reg >> (2 * (field % 16))) & 3) {
    case 0: return 4;
    case 1: return 1;
    case 2: return 2;
    default: return 8;
  }
}

void SystemControl::externalPin(int n, bool level, bool selected) {
  if (n < 0 || n > 3) return;
  bool before = pinLevel_[n];
  pinLevel_[n] = level;
  pinSelected_[n] = selected;
  if (!selected) return;
  bool rising = extpolar_ & (1u << n);
  if (extmode_ & (1u << n)) {
    if (before != level && level == rising) extint_ |= 1u << n;  // the chosen edge
  } else if (level == rising) {
    extint_ |= 1u << n;  // level mode: set while the level is active
  }
  updateLine(n);
}

void SystemControl::updateLine(int n) {
  if (onLine) onLine(n, (extint_ >> n) & 1);
}

uint32_t SystemControl::read(uint32_t offset, uint32_t size, Access) {
  uint32_t v = 0;
  switch (offset & ~3u) {
    case kFlashCfg: v = flashcfg_; break;
    case kPll0Con: v = pll0con_; break;
    case kPll0Cfg: v = pll0cfg_; break;
    // The PLL locks at once: start-up code polling PLOCK proceeds.
    case kPll0Stat:
      v = (pll0cfgActive_ & 0x00FF7FFF) | ((pll0conActive_ & 3) << 24) |
          ((pll0conActive_ & kPllEnable) ? kPll0Lock : 0);
      break;
    case kPll1Con: v = pll1con_; break;
    case kPll1Cfg: v = pll1cfg_; break;
    case kPll1Stat:
      v = (pll1cfgActive_ & 0x7F) | ((pll1conActive_ & 3) << 8) |
          ((pll1conActive_ & kPllEnable) ? kPll1Lock : 0);
      break;
    case kPcon: v = pcon_; break;
    case kPconp: v = pconp_; break;
    case kCclkCfg: v = cclkcfg_; break;
    case kUsbClkCfg: v = usbclkcfg_; break;
    case kClkSrcSel: v = clksrcsel_; break;
    case kExtInt: v = extint_; break;
    case kExtMode: v = extmode_; break;
    case kExtPolar: v = extpolar_; break;
    case kRsid: v = rsid_; break;
    // The main oscillator is stable as soon as it is enabled.
    case kScs: v = (scs_ & ~kOscStable) | ((scs_ & kOscEnable) ? kOscStable : 0); break;
    case kPclkSel0: v = pclksel0_; break;
    case kPclkSel1: v = pclksel1_; break;
    case kClkOutCfg: v = clkoutcfg_; break;
    case kUsbIntSt: v = usbIntSt_; break;
    default: break;
  }
  return laneRead(v, offset, size);
}

void SystemControl::write(uint32_t offset, uint32_t value, uint32_t size, Access) {
  uint32_t word = offset & ~3u;
  uint32_t v = size == 4 ? value : laneMerge(read(word, 4, Access::Debugger), offset, value, size);
  uint32_t before = coreClockHz();
  switch (word) {
    case kFlashCfg: flashcfg_ = v; break;
    case kPll0Con: pll0con_ = v & 3; break;
    case kPll0Cfg: pll0cfg_ = v & 0x00FF7FFF; break;
    // PLL settings take effect only after the feed sequence 0xAA, 0x55.
    case kPll0Feed:
      if (feed0_ == 0xAA && (v & 0xFF) == 0x55) pll0conActive_ = pll0con_, pll0cfgActive_ = pll0cfg_;
      feed0_ = v & 0xFF;
      break;
    case kPll1Con: pll1con_ = v & 3; break;
    case kPll1Cfg: pll1cfg_ = v & 0x7F; break;
    case kPll1Feed:
      if (feed1_ == 0xAA && (v & 0xFF) == 0x55) pll1conActive_ = pll1con_, pll1cfgActive_ = pll1cfg_;
      feed1_ = v & 0xFF;
      break;
    case kPcon: pcon_ = v; break;
    case kPconp: pconp_ = v; break;
    case kCclkCfg: cclkcfg_ = v & 0xFF; break;
    case kUsbClkCfg: usbclkcfg_ = v & 0xF; break;
    case kClkSrcSel: clksrcsel_ = v & 3; break;
    case kExtInt:
      for (int n = 0; n < 4; ++n) {
        if (!(v & (1u << n))) continue;
        bool active = pinLevel_[n] == bool(extpolar_ & (1u << n));
        // A level-mode flag cannot be cleared while its level is still active.
        if ((extmode_ & (1u << n)) || !active || !pinSelected_[n]) extint_ &= ~(1u << n);
        updateLine(n);
      }
      break;
    case kExtMode: extmode_ = v & 0xF; break;
    case kExtPolar: extpolar_ = v & 0xF; break;
    case kRsid: rsid_ &= ~v; break;
    case kScs: scs_ = v & 0x30; break;
    case kPclkSel0: pclksel0_ = v; break;
    case kPclkSel1: pclksel1_ = v; break;
    case kClkOutCfg: clkoutcfg_ = v; break;
    case kUsbIntSt: usbIntSt_ = v & 0x80000000; break;
    default: break;
  }
  if (coreClockHz() != before && onClockChanged) onClockChanged();
}

}  // namespace korvel::sim
