/* The GDB server's end-to-end workload: a function to step into, a counter to print and change,
 * a variable written once and read once for watchpoints, and an exit status a debugger can set. */
#include "semihosting.h"

volatile unsigned counter;
volatile unsigned watched;
volatile unsigned status = 3;

__attribute__((noinline)) unsigned bump(unsigned by) {
  counter += by;
  return counter;
}

int main(void) {
  unsigned total = 0;
  for (int i = 0; i < 5; ++i) total += bump(2);
  watched = total;
  sh_puts("debug target: total ");
  unsigned seen = watched;
  sh_putu(seen);
  sh_puts("\n");
  return (int)status;
}
