/* The work behind the `checksum` test firmware, shared with the host test that computes the
 * expected result natively. Nearly every instruction changes the result when run twice: adds
 * and exclusive-ors chained through one value, a counter in memory decremented once per call,
 * and calls and returns through the link register and the stack. */
#ifndef KORVEL_CHECKSUM_KERNEL_H
#define KORVEL_CHECKSUM_KERNEL_H

#include <stdint.h>

#define CHECKSUM_ROUNDS 60000u

static __attribute__((noinline)) uint32_t checksum_mix(uint32_t x, uint32_t y) {
  x += y;
  x ^= x << 7;
  x += 0x9E3779B9u;
  return x ^ (x >> 11);
}

static __attribute__((noinline)) uint32_t checksum_step(uint32_t s, uint32_t i, volatile uint32_t *counter) {
  *counter = *counter - 1;
  s = checksum_mix(s, i);
  s = checksum_mix(s, *counter);
  return s * 31u + i;
}

static inline uint32_t checksum_run(uint32_t rounds) {
  volatile uint32_t counter = rounds * 3u;
  uint32_t s = 1;
  for (uint32_t i = 0; i < rounds; i++) s = checksum_step(s, i, &counter);
  return s ^ counter;
}

#endif
