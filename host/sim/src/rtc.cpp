#include "rtc.h"

#include "system_control.h"

namespace korvel::sim {

namespace {
enum : uint32_t {
  kIlr = 0x00, kCcr = 0x08, kCiir = 0x0C, kAmr = 0x10, kCtime0 = 0x14, kCtime1 = 0x18, kCtime2 = 0x1C,
  kSec = 0x20, kYear = 0x3C, kCalibration = 0x40, kGpreg0 = 0x44, kGpreg4 = 0x54, kAuxEn = 0x58,
  kAux = 0x5C, kAlSec = 0x60, kAlYear = 0x7C,
};
constexpr uint32_t kClkEn = 1, kCtcReset = 2;
constexpr uint32_t kTicksPerSecond = SystemControl::kRtcHz;
// Each time counter's width in its own register.
constexpr uint32_t kFieldMask[Rtc::kUnits] = {0x3F, 0x3F, 0x1F, 0x1F, 0x7, 0x1FF, 0xF, 0xFFF};
}  // namespace

Rtc::Rtc() {
  // The chip leaves the counters undefined at the battery's first power-up; we start on the
  // first valid date (day 1 of month 1, year 0), with the alarm masked off so it cannot fire
  // before the firmware sets it, and flag the oscillator as just started.
  time_[Dom] = time_[Doy] = time_[Month] = 1;
  amr_ = 0xFF;
  aux_ = 0x10;
}

void Rtc::reset() { updateLine(); }

void Rtc::updateLine() {
  if (onLine) onLine((ilr_ & (kIncrementFlag | kAlarmFlag)) != 0);
}

uint32_t Rtc::daysInMonth(uint32_t month, uint32_t year) {
  static constexpr uint32_t kDays[13] = {31, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && leapYear(year)) return 29;
  return kDays[month <= 12 ? month : 0];
}

bool Rtc::counting() const { return (ccr_ & (kClkEn | kCtcReset)) == kClkEn; }

void Rtc::tickSecond() {
  // Which units change this second: each overflow carries into the next.
  uint32_t changed = 1u << Sec;
  if (++time_[Sec] >= 60) {
    time_[Sec] = 0, changed |= 1u << Min;
    if (++time_[Min] >= 60) {
      time_[Min] = 0, changed |= 1u << Hour;
      if (++time_[Hour] >= 24) {
        time_[Hour] = 0, changed |= (1u << Dom) | (1u << Dow) | (1u << Doy);
        time_[Dow] = (time_[Dow] + 1) % 7;
        ++time_[Doy];
        if (++time_[Dom] > daysInMonth(time_[Month], time_[Year])) {
          time_[Dom] = 1, changed |= 1u << Month;
          if (++time_[Month] > 12) {
            time_[Month] = 1, time_[Doy] = 1, changed |= 1u << Year;
            time_[Year] = (time_[Year] + 1) & kFieldMask[Year];
          }
        }
      }
    }
  }
  if (changed & ciir_) ilr_ |= kIncrementFlag;
  bool compared = false, match = true;
  for (int u = 0; u < kUnits; ++u) {
    if (amr_ & (1u << u)) continue;
    compared = true;
    match = match && time_[u] == alarm_[u];
  }
  if (compared && match) ilr_ |= kAlarmFlag;
  updateLine();
}

void Rtc::advance(uint64_t cycles, uint32_t coreHz) {
  if (!counting()) {
    ticks_.clear();
    return;
  }
  uint64_t n = ticks_.advance(cycles, kTicksPerSecond, coreHz);
  while (n > 0) {
    uint64_t toSecond = kTicksPerSecond - prescaler_;
    if (n < toSecond) {
      prescaler_ += uint32_t(n);
      return;
    }
    n -= toSecond;
    prescaler_ = 0;
    tickSecond();
  }
}

uint64_t Rtc::cyclesToEvent(uint32_t coreHz) const {
  // Only seconds that can raise a flag need a slice to end on them.
  if (!counting() || (ciir_ == 0 && (amr_ & 0xFF) == 0xFF)) return UINT64_MAX;
  return ticks_.cyclesFor(kTicksPerSecond - prescaler_, kTicksPerSecond, coreHz);
}

uint32_t Rtc::read(uint32_t offset, uint32_t size, Access) {
  uint32_t v = 0, word = offset & ~3u;
  switch (word) {
    case kIlr: v = ilr_; break;
    case kCcr: v = ccr_; break;
    case kCiir: v = ciir_; break;
    case kAmr: v = amr_; break;
    case kCtime0: v = time_[Sec] | time_[Min] << 8 | time_[Hour] << 16 | time_[Dow] << 24; break;
    case kCtime1: v = time_[Dom] | time_[Month] << 8 | time_[Year] << 16; break;
    case kCtime2: v = time_[Doy]; break;
    case kCalibration: v = calibration_; break;
    case kAuxEn: v = auxen_; break;
    case kAux: v = aux_; break;
    default:
      if (word >= kSec && word <= kYear) v = time_[(word - kSec) / 4];
      else if (word >= kGpreg0 && word <= kGpreg4) v = gpreg_[(word - kGpreg0) / 4];
      else if (word >= kAlSec && word <= kAlYear) v = alarm_[(word - kAlSec) / 4];
      break;
  }
  return laneRead(v, offset, size);
}

void Rtc::write(uint32_t offset, uint32_t value, uint32_t size, Access) {
  uint32_t word = offset & ~3u;
  uint32_t v = size == 4 ? value : laneMerge(read(word, 4, Access::Debugger), offset, value, size);
  switch (word) {
    case kIlr:
      ilr_ &= ~(v & (kIncrementFlag | kAlarmFlag));  // write one to clear
      updateLine();
      break;
    case kCcr:
      ccr_ = v & 0x13;
      if (ccr_ & kCtcReset) prescaler_ = 0;  // held at zero while CTCRST is set
      break;
    case kCiir: ciir_ = v & 0xFF; break;
    case kAmr: amr_ = v & 0xFF; break;
    case kCalibration: calibration_ = v & 0x3FFFF; break;
    case kAuxEn: auxen_ = v & 0x10; break;
    case kAux: aux_ &= ~(v & 0x10); break;  // RTC_OSCF: write one to clear
    default:
      if (word >= kSec && word <= kYear) time_[(word - kSec) / 4] = v & kFieldMask[(word - kSec) / 4];
      else if (word >= kGpreg0 && word <= kGpreg4) gpreg_[(word - kGpreg0) / 4] = v;
      else if (word >= kAlSec && word <= kAlYear) alarm_[(word - kAlSec) / 4] = v & kFieldMask[(word - kAlSec) / 4];
      break;
  }
}

}  // namespace korvel::sim
