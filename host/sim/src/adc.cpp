#include "adc.h"

#include <algorithm>
#include <cmath>

namespace korvel::sim {

namespace {
enum : uint32_t { kCr = 0x00, kGdr = 0x04, kInten = 0x0C, kDr0 = 0x10, kDr7 = 0x2C, kStat = 0x30, kTrm = 0x34 };
constexpr uint32_t kBurst = 1u << 16, kPdn = 1u << 21, kStartMask = 7u << 24, kStartNow = 1u << 24;
constexpr uint32_t kDone = 1u << 31, kOverrun = 1u << 30, kGlobalInten = 1u << 8;
}  // namespace

uint32_t Adc::code(double volts) {
  double c = std::round(volts / kReferenceVolts * 4095.0);
  if (!(c > 0)) return 0;  // also a NaN from a garbled VTR
  return c >= 4095 ? 4095 : uint32_t(c);
}

void Adc::reset() {
  cr_ = 1;
  gdr_ = 0;
  inten_ = 0x100;
  for (auto& d : dr_) d = 0;
  trm_ = 0xF00;
  busy_ = false;
  channel_ = 0;
  remaining_ = 0;
  updateLine();
}

bool Adc::line() const {
  for (int c = 0; c < kChannels; ++c)
    if ((inten_ & (1u << c)) && (dr_[c] & kDone)) return true;
  return (inten_ & kGlobalInten) && (gdr_ & kDone);
}

void Adc::updateLine() {
  bool l = line();
  if (l == lineLevel_) return;
  lineLevel_ = l;
  if (onLine) onLine(l);
}

int Adc::nextChannel(int after) const {
  uint32_t sel = cr_ & 0xFF;
  if (!sel) return -1;
  for (int i = 1; i <= kChannels; ++i) {
    int c = (after + i) % kChannels;
    if (sel & (1u << c)) return c;
  }
  return -1;
}

void Adc::start() {
  // Software start converts the lowest selected channel; burst goes on from the last one.
  int c = (cr_ & kBurst) && busy_ ? nextChannel(channel_) : nextChannel(kChannels - 1);
  if (c < 0 || !(cr_ & kPdn)) {
    busy_ = false;
    return;
  }
  busy_ = true;
  channel_ = c;
  uint32_t divider = clockDivider ? clockDivider() : 4;
  remaining_ = uint64_t(kClocksPerConversion) * (((cr_ >> 8) & 0xFF) + 1) * divider;
}

void Adc::complete() {
  uint32_t result = code(input ? input(channel_) : 0.0) << 4;
  uint32_t& dr = dr_[channel_];
  // A result nobody read yet is lost: the new one carries OVERRUN.
  dr = result | kDone | ((dr & kDone) ? kOverrun : 0);
  gdr_ = result | (uint32_t(channel_) << 24) | kDone | ((gdr_ & kDone) ? kOverrun : 0);
  updateLine();
}

void Adc::advance(uint64_t cycles) {
  while (busy_ && cycles >= remaining_) {
    cycles -= remaining_;
    complete();
    if (cr_ & kBurst) start();
    else busy_ = false;
  }
  if (busy_) remaining_ -= cycles;
}

uint64_t Adc::cyclesToEvent() const {
  // Only a conversion that raises the line needs its exact time; a raised line stays raised.
  if (!busy_ || lineLevel_) return UINT64_MAX;
  bool raises = (inten_ & (1u << channel_)) || (inten_ & kGlobalInten);
  return raises ? std::max<uint64_t>(remaining_, 1) : UINT64_MAX;
}

uint32_t Adc::read(uint32_t offset, uint32_t size, Access access) {
  uint32_t word = offset & ~3u, v = 0;
  bool firmware = access == Access::Firmware;
  switch (word) {
    case kCr: v = cr_; break;
    case kGdr:
      v = gdr_;
      if (firmware) gdr_ &= ~(kDone | kOverrun), updateLine();
      break;
    case kInten: v = inten_; break;
    case kStat: {
      bool interrupt = false;
      for (int c = 0; c < kChannels; ++c) {
        v |= ((dr_[c] >> 31) & 1) << c;
        v |= ((dr_[c] >> 30) & 1) << (8 + c);
        interrupt |= (dr_[c] & kDone) != 0;
      }
      if (interrupt) v |= 1u << 16;
      break;
    }
    case kTrm: v = trm_; break;
    default:
      if (word >= kDr0 && word <= kDr7) {
        uint32_t& dr = dr_[(word - kDr0) / 4];
        v = dr;
        // Reading a channel's result takes its DONE and OVERRUN flags away.
        if (firmware) dr &= ~(kDone | kOverrun), updateLine();
      }
      break;
  }
  return laneRead(v, offset, size);
}

void Adc::write(uint32_t offset, uint32_t value, uint32_t size, Access) {
  uint32_t word = offset & ~3u;
  uint32_t old = word == kCr ? cr_ : word == kInten ? inten_ : word == kTrm ? trm_ : 0;
  uint32_t v = size == 4 ? value : laneMerge(old, offset, value, size);
  switch (word) {
    case kCr:
      cr_ = v & 0x0F21FFFF;
      if (!(cr_ & kPdn)) {
        busy_ = false;  // powered down: the conversion in progress is abandoned
      } else if ((cr_ & kBurst) && !busy_) {
        start();
      } else if (!(cr_ & kBurst) && (cr_ & kStartMask) == kStartNow) {
        busy_ = false;
        start();
      }
      break;
    case kInten: inten_ = v & 0x1FF; updateLine(); break;
    case kTrm: trm_ = v & 0xFFF0; break;
    default: break;
  }
}

}  // namespace korvel::sim
