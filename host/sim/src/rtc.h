// The real-time clock at 0x40024000, counting from its 32.768 kHz crystal: a 15-bit prefix
// counter makes one second, and the seconds carry into minutes, hours, the day counters (month
// lengths, and a leap year whenever YEAR's two low bits are zero, as the chip reckons), months
// and years. A change of a unit selected in CIIR sets the increment flag, a match of every
// compared alarm register (AMR clear) the alarm flag; either in ILR is the interrupt request.
// The RTC lives in the battery domain: a chip reset leaves every register as it was.
#pragma once

#include <cstdint>
#include <functional>

#include "peripheral.h"
#include "ticks.h"

namespace korvel::sim {

class Rtc : public Peripheral {
 public:
  static constexpr uint32_t kBase = 0x40024000, kSize = 0x4000;
  static constexpr int kIrq = 17;
  static constexpr uint32_t kIncrementFlag = 1, kAlarmFlag = 2;  // ILR
  enum Unit { Sec, Min, Hour, Dom, Dow, Doy, Month, Year, kUnits };

  Rtc();
  uint32_t read(uint32_t offset, uint32_t size, Access access) override;
  void write(uint32_t offset, uint32_t value, uint32_t size, Access access) override;
  // A chip reset: the battery-backed registers keep their values.
  void reset() override;

  void advance(uint64_t cycles, uint32_t coreHz);
  uint64_t cyclesToEvent(uint32_t coreHz) const;
  std::function<void(bool level)> onLine;

  static bool leapYear(uint32_t year) { return (year & 3) == 0; }
  static uint32_t daysInMonth(uint32_t month, uint32_t year);

 private:
  bool counting() const;
  void tickSecond();
  void updateLine();

  uint32_t ilr_ = 0, ccr_ = 0, ciir_ = 0, amr_ = 0, calibration_ = 0, aux_ = 0, auxen_ = 0;
  uint32_t time_[kUnits] = {}, alarm_[kUnits] = {}, gpreg_[5] = {};
  uint32_t prescaler_ = 0;  // crystal ticks into the current second
  TickCounter ticks_;
};

}  // namespace korvel::sim
