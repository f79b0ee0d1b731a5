/* A long computation interrupted all the time: SysTick and timer 0 fire every few hundred
 * cycles, so the simulator stops and resumes the core in the middle of blocks thousands of
 * times. Prints the checksum, which must equal the same computation run without a break. */
#include "checksum_kernel.h"
#include "lpc17xx.h"
#include "semihosting.h"

static volatile uint32_t ticks, timer_hits;

void SysTick_Handler(void) { ticks++; }

void TIMER0_IRQHandler(void) {
  TIR(TIMER0_BASE) = 1;
  timer_hits++;
}

int main(void) {
  /* Periods that share no factor with the loop's length: interrupts land everywhere in it. */
  SYST_RVR = 997 - 1;
  SYST_CVR = 0;
  SYST_CSR = 7;
  TMR(TIMER0_BASE, 0) = 53 - 1;
  TMCR(TIMER0_BASE) = 3;
  TTCR(TIMER0_BASE) = 2;
  TTCR(TIMER0_BASE) = 1;
  nvic_enable(TIMER0_IRQn);
  irq_enable();

  uint32_t sum = checksum_run(CHECKSUM_ROUNDS);

  irq_disable();
  SYST_CSR = 0;
  TTCR(TIMER0_BASE) = 0;
  sh_puts("checksum ");
  sh_putu(sum);
  sh_puts(" interrupts ");
  sh_putu(ticks + timer_hits);
  sh_puts("\n");
  return 0;
}
