/* The potentiometer sets the loudness of a tone: SysTick toggles the DAC (P0.26, the speaker)
 * between 0 and a level every millisecond, a 500 Hz square wave, and every 50 ms the firmware
 * reads AD0.5 (P1.31, the potentiometer) and makes the reading that level. Each reading is
 * printed on UART0 as "t=<ms> AD0.5=<0..4095>". Runs until the simulator ends it. */
#include <stdint.h>

#include "lpc17xx.h"
#include "uart.h"

static volatile uint32_t ms;
static volatile uint32_t level; /* the DAC value of the tone's high half, 0..1023 */

void SysTick_Handler(void) {
  ms++;
  DACR = (ms & 1) ? (level << 6) : 0;
}

static uint32_t read_pot(void) {
  /* ADC clock at most 13 MHz from PCLK = CCLK / 4. */
  uint32_t clkdiv = (CORE_CLOCK_HZ / 4 + 12999999u) / 13000000u - 1;
  AD0CR = (1u << 5) | (clkdiv << 8) | ADC_PDN | ADC_START_NOW;
  uint32_t dr;
  while (!((dr = AD0DR(5)) & ADC_DONE)) {
  }
  return ADC_RESULT(dr);
}

int main(void) {
  uart_init();
  PCONP |= 1u << 12;                              /* PCADC */
  PINSEL3 = (PINSEL3 & ~(3u << 30)) | (3u << 30); /* P1.31 is AD0.5 */
  PINSEL1 = (PINSEL1 & ~(3u << 20)) | (2u << 20); /* P0.26 is AOUT */
  AD0INTEN = 0;
  SYST_RVR = CORE_CLOCK_HZ / 1000 - 1; /* 1 ms */
  SYST_CVR = 0;
  SYST_CSR = 7; /* core clock, interrupt, enable */
  uint32_t next = 50;
  for (;;) {
    if (ms >= next) {
      uint32_t code = read_pot();
      level = code >> 2;
      uart_puts("t=");
      uart_putu(next);
      uart_puts(" AD0.5=");
      uart_putu(code);
      uart_puts("\n");
      next += 50;
    }
    wfi();
  }
}
