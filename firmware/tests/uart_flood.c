/* Prints numbered lines on UART0 as fast as the transmitter takes them (polling THRE), for
 * ever: the print loop that a slow transmitter must pace. */
#include "uart.h"

int main(void) {
  uart_init();
  for (uint32_t n = 0;; n++) {
    uart_puts("line ");
    uart_putu(n);
    uart_puts("\n");
  }
}
