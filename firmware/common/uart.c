#include "decimal.h"
#include "uart.h"

#include "lpc17xx.h"

void uart_init(void) {
  PINSEL0 = (PINSEL0 & ~0xF0u) | 0x50u; /* P0.2 TXD0, P0.3 RXD0 */
  U0LCR = 0x83;                         /* 8N1, divisor latch open */
  U0DLL = 14;                           /* 25 MHz / (16 * 14) with the fractional divider off: ~111600 */
  U0DLM = 0;
  U0LCR = 0x03;
  U0FCR = 0x07;
}

static void uart_putc(char c) {
  while (!(U0LSR & 0x20)) {
  }
  U0THR = (uint32_t)c;
}

void uart_puts(const char *text) {
  while (*text) uart_putc(*text++);
}

void uart_putu(uint32_t value) {
  char buf[12];
  uart_puts(decimal_u32(buf, value));
}

void uart_puti(int32_t value) {
  if (value < 0) {
    uart_putc('-');
    uart_putu((uint32_t)(-value));
  } else {
    uart_putu((uint32_t)value);
  }
}
