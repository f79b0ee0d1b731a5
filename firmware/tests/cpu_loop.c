/* A CPU-bound loop for measuring the simulator's speed: integer arithmetic with few memory
 * accesses. Prints the checksum so the work cannot be optimised away. */
#include "semihosting.h"

int main(void) {
  uint32_t a = 1, b = 2, sum = 0;
  for (uint32_t i = 0; i < 20000000u; i++) {
    a = a * 1664525u + 1013904223u;
    b ^= a >> 7;
    sum += b + i;
  }
  sh_puts("checksum ");
  sh_putu(sum);
  sh_puts("\n");
  return 0;
}
