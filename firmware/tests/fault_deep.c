/* A fault three calls deep in unoptimised code (built with -O0, so r7 is a frame pointer), once
 * from main and once (IN_INTERRUPT) inside the PendSV handler that main sets pending: the fault
 * report follows the calls and the exception frame back to main. HardFault only spins. */
#include <stdint.h>

#include "semihosting.h"

void HardFault_Handler(void) {
  for (;;) {
  }
}

volatile int depth;

void inner(int x) {
  depth = x;
  __asm volatile("udf #254"); /* inner: the fault */
}

void outer(int x) {
  inner(x + 1); /* outer: calls inner */
  depth = 0;
}

void PendSV_Handler(void) {
  outer(1); /* PendSV: calls outer */
  depth = 0;
}

int main(void) {
  sh_puts("about to fault\n");
#ifdef IN_INTERRUPT
  *(volatile uint32_t *)0xE000ED04u = 1u << 28; /* main: PendSV pending */
  __asm volatile("dsb\n isb");
#else
  outer(1); /* main: calls outer */
#endif
  return 0;
}
