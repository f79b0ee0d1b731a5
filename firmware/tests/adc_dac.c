/* The potentiometer's channel AD0.5 (P1.31) read twice, polled and by interrupt, and the value
 * written to the DAC (P0.26). Prints both readings; exits 0 when they agree and the interrupt
 * came, else the number of the failed step. */
#include "lpc17xx.h"
#include "semihosting.h"

static volatile uint32_t irq_result, irq_hits;

void ADC_IRQHandler(void) {
  irq_result = ADC_RESULT(AD0DR(5)); /* reading the result clears DONE and the request */
  irq_hits++;
}

static uint32_t clkdiv(void) {
  /* ADC clock at most 13 MHz from PCLK = CCLK / 4. */
  uint32_t pclk = CORE_CLOCK_HZ / 4;
  return (pclk + 12999999u) / 13000000u - 1;
}

int main(void) {
  PCONP |= 1u << 12;                                  /* PCADC */
  PINSEL3 = (PINSEL3 & ~(3u << 30)) | (3u << 30);     /* P1.31 is AD0.5 */
  PINSEL1 = (PINSEL1 & ~(3u << 20)) | (2u << 20);     /* P0.26 is AOUT */
  AD0INTEN = 0;

  AD0CR = (1u << 5) | (clkdiv() << 8) | ADC_PDN | ADC_START_NOW;
  uint32_t dr;
  while (!((dr = AD0DR(5)) & ADC_DONE)) {
  }
  uint32_t polled = ADC_RESULT(dr);
  DACR = (polled >> 2) << 6; /* 12-bit reading to the 10-bit DAC */

  AD0INTEN = 1u << 5;
  nvic_enable(ADC_IRQn);
  AD0CR = (1u << 5) | (clkdiv() << 8) | ADC_PDN | ADC_START_NOW;
  while (irq_hits == 0) wfi();
  nvic_disable(ADC_IRQn);
  AD0CR = 0;

  sh_puts("AD0.5 polled ");
  sh_putu(polled);
  sh_puts(" interrupt ");
  sh_putu(irq_result);
  sh_puts("\n");
  if (irq_hits != 1) return 1;
  if (irq_result != polled) return 2;
  return 0;
}
