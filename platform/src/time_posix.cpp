#include <time.h>

#include <cerrno>

#include "korvel/platform/platform.h"

namespace korvel::platform {

uint64_t monotonicNanos() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

static void sleepNanos(uint64_t ns) {
  timespec req{static_cast<time_t>(ns / 1000000000ull), static_cast<long>(ns % 1000000000ull)};
  timespec rem{};
  while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}

void sleepMillis(uint32_t ms) { sleepNanos(static_cast<uint64_t>(ms) * 1000000ull); }
void sleepMicros(uint32_t us) { sleepNanos(static_cast<uint64_t>(us) * 1000ull); }

}  // namespace korvel::platform
