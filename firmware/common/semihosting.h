/* Console output and exit through the debugger's semihosting interface (BKPT 0xAB). */
#ifndef KORVEL_SEMIHOSTING_H
#define KORVEL_SEMIHOSTING_H

#include <stdint.h>

void sh_puts(const char *text);
void sh_putu(uint32_t value);
void sh_exit(int status) __attribute__((noreturn));

#endif
