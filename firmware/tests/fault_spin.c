/* A HardFault handler that only spins, as many start-up files have: the simulator ends the run
 * at the fault instead of spinning to the time limit. */
#include "semihosting.h"

void HardFault_Handler(void) {
  for (;;) {
  }
}

int main(void) {
  sh_puts("about to fault\n");
  __asm volatile(".short 0xDEFE");
  return 0;
}
