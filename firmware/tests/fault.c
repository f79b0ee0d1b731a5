/* A fault inside the HardFault handler: the core locks up and the simulator ends the run with
 * a report naming the handler. */
#include "semihosting.h"

void HardFault_Handler(void) {
  sh_puts("in the HardFault handler\n");
  (void)*(volatile unsigned *)0xA0000000u; /* nothing answers there: a second fault */
  for (;;) {
  }
}

int main(void) {
  sh_puts("about to fault\n");
  __asm volatile(".short 0xDEFE");  /* permanently undefined */
  return 0;
}
