/* Unsigned decimal text without printf (newlib's printf would pull in far more code). */
#ifndef KORVEL_DECIMAL_H
#define KORVEL_DECIMAL_H

#include <stdint.h>

/* Writes value into buf (at least 11 bytes) and returns where its digits start. */
static inline const char *decimal_u32(char buf[12], uint32_t value) {
  int i = 11;
  buf[i] = 0;
  do {
    buf[--i] = (char)('0' + value % 10);
    value /= 10;
  } while (value);
  return &buf[i];
}

#endif
