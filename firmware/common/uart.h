/* UART0 console at 115200 8N1 (P0.2 TXD0). */
#ifndef KORVEL_UART_H
#define KORVEL_UART_H

#include <stdint.h>

void uart_init(void);
void uart_puts(const char *text);
void uart_putu(uint32_t value);
void uart_puti(int32_t value);

#endif
