/* Clocks: the 12 MHz main oscillator through PLL0 (M = 25, N = 2: 300 MHz) divided by 3 gives
 * the 100 MHz core clock; peripherals run at CCLK/4 (the reset choice). */
#include "lpc17xx.h"

static void pll0_feed(void) {
  PLL0FEED = 0xAA;
  PLL0FEED = 0x55;
}

void system_init(void) {
  SCS = 1u << 5; /* main oscillator on */
  while (!(SCS & (1u << 6))) {
  }
  CCLKCFG = 2;   /* divide FCCO by 3 */
  CLKSRCSEL = 1; /* main oscillator feeds PLL0 */
  PLL0CFG = (25 - 1) | ((2 - 1) << 16);
  pll0_feed();
  PLL0CON = 1; /* enable */
  pll0_feed();
  while (!(PLL0STAT & (1u << 26))) {
  }
  PLL0CON = 3; /* connect */
  pll0_feed();
  FLASHCFG = (FLASHCFG & 0x0FFF) | (4u << 12); /* five CPU clocks per flash access */
}
