/* Timer-scaling demo: measures through ScaleFlag, then programs timer 0 for one interrupt per
 * second of real time. It prints the match value it wrote and the value the register holds
 * afterwards (the emulator divides it by the measured factor), then counts ticks. */
#include "lpc17xx.h"
#include "scale_flag.h"
#include "semihosting.h"
#include "uart.h"

static volatile uint32_t seconds;
void TIMER0_IRQHandler(void) {
  TIR(TIMER0_BASE) = 1;
  seconds++;
}

int main(void) {
  uart_init();
  uart_puts("timer scaling: measuring\n");
  scale_flag_measure(2000000);

  const uint32_t one_second = CORE_CLOCK_HZ / 4; /* PCLK = CCLK / 4 */
  TTCR(TIMER0_BASE) = 2;
  TMCR(TIMER0_BASE) = 3; /* interrupt and reset on MR0 */
  TMR(TIMER0_BASE, 0) = one_second - 1;
  uart_puts("T0MR0 written ");
  uart_putu(one_second - 1);
  uart_puts(", now ");
  uart_putu(TMR(TIMER0_BASE, 0));
  uart_puts("\n");
  TTCR(TIMER0_BASE) = 1;
  nvic_enable(TIMER0_IRQn);
  uint32_t shown = 0;
  for (;;) {
    wfi();
    if (seconds != shown) {
      shown = seconds;
      uart_puts("tick ");
      uart_putu(shown);
      uart_puts("\n");
    }
  }
}
