/* The firmware side of the host-facing checks: drives P0.22 through SET/CLR, sends a byte on
 * SSP1 and reads the answer, writes a watched variable, waits for an EINT1 edge, and reports
 * what it read. */
#include "lpc17xx.h"
#include "semihosting.h"

volatile unsigned char Watched;
static volatile uint32_t eint1_hits;

void EINT1_IRQHandler(void) {
  EXTINT = 1u << 1;
  eint1_hits++;
}

int main(void) {
  FIODIR(0) |= 1u << 22;
  FIOSET(0) = 1u << 22;
  FIOCLR(0) = 1u << 22;

  SSP1CR0 = 7;
  SSP1CR1 = 2;
  SSP1DR = 0x90;
  while (!(SSP1SR & SSP_SR_RNE)) {
  }
  uint32_t answer = SSP1DR;
  sh_puts("ssp answer ");
  sh_putu(answer);
  sh_puts("\n");

  Watched = 42;

  /* P2.11 as EINT1, falling edge. */
  PINSEL4 = (PINSEL4 & ~(3u << 22)) | (1u << 22);
  EXTMODE |= 1u << 1;
  EXTPOLAR &= ~(1u << 1);
  EXTINT = 1u << 1;
  nvic_enable(EINT1_IRQn);
  sh_puts("waiting for EINT1\n");
  while (eint1_hits == 0) wfi();
  sh_puts("EINT1 taken\n");
  return 0;
}
