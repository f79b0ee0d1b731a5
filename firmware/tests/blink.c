/* Pin traffic at known times: SysTick toggles P1.18 every millisecond, while timer 0 counts the
 * rising edges on P1.26 (CAP0.0). Every 100 ms it prints the time, the levels of port 0 and the
 * count, so a run can check the output pin's period, the input pins of port 0 and an input
 * signal counted by a timer. Runs until the simulator ends it. */
#include <stdint.h>

#include "lpc17xx.h"
#include "uart.h"

#define T0CTCR REG32(TIMER0_BASE + 0x70)
#define LED (1u << 18)

static volatile uint32_t ms;

void SysTick_Handler(void) {
  if (FIOPIN(1) & LED) FIOCLR(1) = LED;
  else FIOSET(1) = LED;
  ms++;
}

static void put_hex(uint32_t v) {
  static const char digits[] = "0123456789ABCDEF";
  char text[11] = "0x";
  for (int i = 0; i < 8; i++) text[2 + i] = digits[(v >> (28 - 4 * i)) & 15];
  text[10] = 0;
  uart_puts(text);
}

int main(void) {
  uart_init();
  FIODIR(1) |= LED;
  PINSEL3 |= 3u << 20;  /* P1.26 is CAP0.0 */
  T0CTCR = 1;           /* timer 0 counts rising edges on CAP0.0 */
  TTCR(TIMER0_BASE) = 1;
  SYST_RVR = 100000 - 1; /* 1 ms at the 100 MHz core clock */
  SYST_CVR = 0;
  SYST_CSR = 7;          /* core clock, interrupt, enable */
  uint32_t next = 100;
  for (;;) {
    if (ms >= next) {
      uart_puts("t=");
      uart_putu(next);
      uart_puts("ms P0=");
      put_hex(FIOPIN(0));
      uart_puts(" edges=");
      uart_putu(TTC(TIMER0_BASE));
      uart_puts("\n");
      next += 100;
    }
    __asm volatile("wfi");
  }
}
