#include "decimal.h"
#include "semihosting.h"

static uint32_t sh_call(uint32_t op, const void *param) {
  register uint32_t r0 __asm("r0") = op;
  register const void *r1 __asm("r1") = param;
  __asm volatile("bkpt 0xAB" : "+r"(r0) : "r"(r1) : "memory");
  return r0;
}

void sh_puts(const char *text) { sh_call(0x04, text); }

void sh_putu(uint32_t value) {
  char buf[12];
  sh_puts(decimal_u32(buf, value));
}

void sh_exit(int status) {
  /* Extended exit: reason "application exit" and the status word. */
  uint32_t block[2] = {0x20026, (uint32_t)status};
  sh_call(0x20, block);
  for (;;) {
  }
}
