/* Smallest end-to-end check: text on both consoles, then exit with a known status. */
#include "semihosting.h"
#include "uart.h"

int main(void) {
  sh_puts("hello from semihosting\n");
  uart_init();
  uart_puts("hello from UART0\n");
  return 7;
}
