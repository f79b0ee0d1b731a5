/* A starting point for your own firmware: prints on UART0 and follows KEY1 by polling it every
 * 10 ms from SysTick, the way most board firmware reads its buttons. The chip runs from its
 * 4 MHz internal oscillator (no PLL set-up), which is also what the simulator assumes after reset. */
#include <stdint.h>

#define REG(address) (*(volatile uint32_t *)(address))
#define PINSEL0 REG(0x4002C000)
#define U0THR REG(0x4000C000)
#define U0DLL REG(0x4000C000)
#define U0DLM REG(0x4000C004)
#define U0FCR REG(0x4000C008)
#define U0LCR REG(0x4000C00C)
#define U0LSR REG(0x4000C014)
#define FIO2PIN REG(0x2009C054)
#define SYST_CSR REG(0xE000E010)
#define SYST_RVR REG(0xE000E014)
#define SYST_CVR REG(0xE000E018)

#define CORE_CLOCK_HZ 4000000u
#define KEY1_MASK (1u << 11) /* P2.11, low while pressed */

static volatile uint32_t ticks;

void SysTick_Handler(void) { ticks++; }

static void uart_init(void) {
  PINSEL0 = (PINSEL0 & ~0xF0u) | 0x50u; /* P0.2 TXD0, P0.3 RXD0 */
  U0LCR = 0x83;                         /* 8N1, divisor latch open */
  U0DLL = 2;                            /* 1 MHz peripheral clock / (16 * 2): 31250 baud */
  U0DLM = 0;
  U0LCR = 0x03;
  U0FCR = 0x07;
}

static void uart_puts(const char *text) {
  for (; *text; text++) {
    while (!(U0LSR & 0x20)) {
    }
    U0THR = (uint32_t)*text;
  }
}

int main(void) {
  uart_init();
  uart_puts("template: running\n");
  SYST_RVR = CORE_CLOCK_HZ / 100 - 1; /* 10 ms */
  SYST_CVR = 0;
  SYST_CSR = 7; /* core clock, interrupt, on */
  int pressed = 0;
  uint32_t seen = ticks;
  for (;;) {
    __asm__ volatile("wfi");
    if (ticks == seen) continue;
    seen = ticks;
    int now = (FIO2PIN & KEY1_MASK) == 0;
    if (now != pressed) {
      pressed = now;
      uart_puts(pressed ? "template: KEY1 pressed\n" : "template: KEY1 released\n");
    }
  }
}
