// Turning core cycles into ticks of another clock. The watchdog, the RTC and the serial buses
// count clocks that are not the core's (the 4 MHz IRC, the 32.768 kHz crystal, a peripheral
// clock): each keeps the fraction of a tick left over so no time is lost between advances.
#pragma once

#include <cstdint>

namespace korvel::sim {

class TickCounter {
 public:
  // The ticks of a clock running at `num / den` times the core clock that `cycles` make.
  uint64_t advance(uint64_t cycles, uint64_t num, uint64_t den) {
    if (den == 0 || num == 0) return 0;
    Wide total = Wide(acc_ % den) + Wide(cycles) * num;
    acc_ = uint64_t(total % den);
    Wide ticks = total / den;
    return ticks > UINT64_MAX ? UINT64_MAX : uint64_t(ticks);
  }
  // Core cycles until `ticks` more ticks have passed (UINT64_MAX when that is too far away).
  uint64_t cyclesFor(uint64_t ticks, uint64_t num, uint64_t den) const {
    if (ticks == 0) return 0;
    if (num == 0 || den == 0) return UINT64_MAX;
    Wide need = Wide(ticks) * den;
    Wide have = acc_ % den;
    need = need > have ? need - have : 0;
    Wide cycles = (need + num - 1) / num;
    return cycles > UINT64_MAX ? UINT64_MAX : (cycles == 0 ? 1 : uint64_t(cycles));
  }
  void clear() { acc_ = 0; }

 private:
  __extension__ typedef unsigned __int128 Wide;
  uint64_t acc_ = 0;
};

}  // namespace korvel::sim
