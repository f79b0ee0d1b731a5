#include "i2c.h"

#include <algorithm>

namespace korvel::sim {

namespace {
enum : uint32_t {
  kConSet = 0x00, kStat = 0x04, kDat = 0x08, kAdr0 = 0x0C, kSclh = 0x10, kScll = 0x14,
  kConClr = 0x18, kMmCtrl = 0x1C, kAdr1 = 0x20, kAdr3 = 0x28, kDataBuffer = 0x2C,
  kMask0 = 0x30, kMask3 = 0x3C,
};
constexpr uint32_t kAa = 1u << 2, kSi = 1u << 3, kSto = 1u << 4, kSta = 1u << 5, kEn = 1u << 6;
constexpr uint32_t kBitsPerByte = 9;  // eight data bits and the acknowledge
}  // namespace

void I2c::reset() {
  con_ = dat_ = mmctrl_ = 0;
  stat_ = kIdle;
  sclh_ = scll_ = 4;
  for (int i = 0; i < 4; ++i) adr_[i] = mask_[i] = 0;
  master_ = false;
  step_ = Step::None;
  remaining_ = 0;
  ticks_.clear();
  updateLine();
}

void I2c::updateLine() {
  if (onLine) onLine((con_ & kSi) != 0);
}

uint64_t I2c::bitPclks() const { return std::max<uint64_t>(uint64_t(sclh_) + scll_, 1); }

// Starts whatever the control bits ask for once the firmware has cleared SI.
void I2c::kick() {
  if (step_ != Step::None || !(con_ & kEn) || (con_ & kSi)) return;
  if (!master_) {
    con_ &= ~kSto;  // STO without the bus only leaves the (never entered) error state
    if (con_ & kSta) step_ = Step::Start, remaining_ = bitPclks();
    return;
  }
  if (con_ & kSto) {
    // STOP is sent at once; STO clears itself. With STA too, a START follows on the free bus.
    con_ &= ~kSto;
    master_ = false;
    stat_ = kIdle;
    if (con_ & kSta) step_ = Step::Start, remaining_ = bitPclks();
    return;
  }
  if (con_ & kSta) {
    step_ = Step::Start, remaining_ = bitPclks();
    return;
  }
  switch (stat_) {
    case kStarted:
    case kRepeatedStart: step_ = Step::Address, remaining_ = kBitsPerByte * bitPclks(); break;
    case kAddressWriteNack:
    case kDataNack: step_ = Step::Data, remaining_ = kBitsPerByte * bitPclks(); break;
    default: break;  // after SLA+R NACK only a (repeated) START or a STOP moves on
  }
}

void I2c::finish() {
  switch (step_) {
    case Step::Start:
      stat_ = master_ ? kRepeatedStart : kStarted;
      master_ = true;
      break;
    case Step::Address: stat_ = (dat_ & 1) ? kAddressReadNack : kAddressWriteNack; break;
    case Step::Data: stat_ = kDataNack; break;
    case Step::None: return;
  }
  step_ = Step::None;
  con_ |= kSi;
  updateLine();
}

void I2c::advance(uint64_t cycles, uint32_t divider) {
  if (step_ == Step::None) {
    ticks_.clear();
    return;
  }
  uint64_t n = ticks_.advance(cycles, 1, divider);
  if (n >= remaining_) finish();
  else remaining_ -= n;
}

uint64_t I2c::cyclesToEvent(uint32_t divider) const {
  return step_ == Step::None ? UINT64_MAX : ticks_.cyclesFor(remaining_, 1, divider);
}

uint32_t I2c::read(uint32_t offset, uint32_t size, Access) {
  uint32_t v = 0, word = offset & ~3u;
  switch (word) {
    case kConSet: v = con_; break;
    case kStat: v = stat_; break;
    case kDat: v = dat_; break;
    case kAdr0: v = adr_[0]; break;
    case kSclh: v = sclh_; break;
    case kScll: v = scll_; break;
    case kMmCtrl: v = mmctrl_; break;
    case kDataBuffer: v = 0; break;
    default:
      if (word >= kAdr1 && word <= kAdr3) v = adr_[1 + (word - kAdr1) / 4];
      else if (word >= kMask0 && word <= kMask3) v = mask_[(word - kMask0) / 4];
      break;
  }
  return laneRead(v, offset, size);
}

void I2c::write(uint32_t offset, uint32_t value, uint32_t size, Access) {
  uint32_t word = offset & ~3u;
  uint32_t v = laneMerge(0, offset, value, size);
  switch (word) {
    case kConSet:
      con_ |= v & (kAa | kSto | kSta | kEn);  // SI is the hardware's to set
      kick();
      break;
    case kConClr:
      con_ &= ~(v & (kAa | kSi | kSta | kEn));
      if (v & kEn) {
        // Switching the controller off abandons the bus.
        master_ = false, step_ = Step::None, stat_ = kIdle;
        con_ &= ~(kSi | kSto);
      }
      updateLine();
      kick();
      break;
    case kDat: dat_ = v & 0xFF; break;
    case kAdr0: adr_[0] = v & 0xFF; break;
    case kSclh: sclh_ = v & 0xFFFF; break;
    case kScll: scll_ = v & 0xFFFF; break;
    case kMmCtrl: mmctrl_ = v & 0x7; break;
    default:
      if (word >= kAdr1 && word <= kAdr3) adr_[1 + (word - kAdr1) / 4] = v & 0xFF;
      else if (word >= kMask0 && word <= kMask3) mask_[(word - kMask0) / 4] = v & 0xFE;
      break;
  }
}

}  // namespace korvel::sim
