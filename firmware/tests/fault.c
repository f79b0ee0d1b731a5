/* Executes an undefined instruction: the simulator must stop with a fault report. */
#include "semihosting.h"

int main(void) {
  sh_puts("about to fault\n");
  __asm volatile(".short 0xDEFE");  /* permanently undefined */
  return 0;
}
