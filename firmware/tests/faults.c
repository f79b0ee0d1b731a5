/* Faults as firmware meets them: each one reaches this program's own handler, which prints the
 * exception number and the fault status registers, clears them, steps over the faulting
 * instruction and returns, so one run checks every case in turn. */
#include "lpc17xx.h"
#include "semihosting.h"

/* An address nothing on the LPC17xx answers (0 is flash on this chip). */
#define NOWHERE ((volatile uint32_t *)0xA0000000u)

static void put_hex(uint32_t v) {
  char b[9];
  for (int i = 7; i >= 0; --i, v >>= 4) b[i] = "0123456789ABCDEF"[v & 15];
  b[8] = 0;
  sh_puts(b);
}

/* Called with the stacked frame: r0 r1 r2 r3 r12 lr pc xpsr. */
void fault_report(uint32_t *frame) {
  uint32_t cfsr = SCB_CFSR, hfsr = SCB_HFSR;
  sh_puts("exception ");
  sh_putu(SCB_ICSR & 0x1FF);
  sh_puts(" CFSR=");
  put_hex(cfsr);
  sh_puts(" HFSR=");
  put_hex(hfsr);
  if (cfsr & (1u << 15)) {
    sh_puts(" BFAR=");
    put_hex(SCB_BFAR);
  }
  sh_puts("\n");
  SCB_CFSR = cfsr; /* write-one-to-clear */
  SCB_HFSR = hfsr;
  /* Step over the faulting instruction: 32-bit encodings start with 0b11101, 0b11110, 0b11111. */
  uint16_t first = *(uint16_t *)frame[6];
  frame[6] += (first >> 11) >= 0x1D ? 4 : 2;
}

#define FAULT_HANDLER(name) \
  __attribute__((naked)) void name(void) { __asm volatile("mrs r0, msp\n b fault_report"); }
FAULT_HANDLER(HardFault_Handler)
FAULT_HANDLER(BusFault_Handler)
FAULT_HANDLER(UsageFault_Handler)

static volatile uint32_t zero = 0, sink;

static uint32_t divide(uint32_t a, uint32_t b) {
  uint32_t q;
  __asm volatile("udiv %0, %1, %2" : "=r"(q) : "r"(a), "r"(b));
  return q;
}

int main(void) {
  sh_puts("bus read, BusFault disabled\n");
  sink = *NOWHERE;
  sh_puts("undefined instruction, UsageFault disabled\n");
  __asm volatile(".short 0xDEFE");
  SCB_SHCSR |= (1u << 17) | (1u << 18); /* BUSFAULTENA, USGFAULTENA */
  sh_puts("bus read\n");
  sink = *NOWHERE;
  sh_puts("undefined instruction\n");
  __asm volatile(".short 0xDEFE");
  sh_puts("divide by zero without DIV_0_TRP gives ");
  sh_putu(divide(7, zero));
  sh_puts("\n");
  SCB_CCR |= 1u << 4; /* DIV_0_TRP */
  sh_puts("divide by zero\n");
  sink = divide(7, zero);
  sh_puts("done\n");
  return 0;
}
