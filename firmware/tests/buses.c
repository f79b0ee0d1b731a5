/* Drivers that poll status bits meet the chip's answers for absent devices: an I2C0 master
 * gets START, NACK and STOP with the interrupt request pending; SPI and SSP0 transfers finish
 * with all-ones data; the RTC counts seconds and requests its interrupt; the watchdog, fed for
 * a while and then left alone, resets the chip, after which WDTOF and RSID say so. What was
 * checked before the reset is kept in an RTC general-purpose register, which the reset keeps.
 * Exits 0 when everything held, else the number of the failed step. */
#include "lpc17xx.h"
#include "semihosting.h"

#define I2C0_BASE 0x4001C000u
#define I2CONSET REG32(I2C0_BASE + 0x00)
#define I2STAT REG32(I2C0_BASE + 0x04)
#define I2DAT REG32(I2C0_BASE + 0x08)
#define I2SCLH REG32(I2C0_BASE + 0x10)
#define I2SCLL REG32(I2C0_BASE + 0x14)
#define I2CONCLR REG32(I2C0_BASE + 0x18)
#define I2C_SI (1u << 3)
#define I2C_STO (1u << 4)
#define I2C_STA (1u << 5)
#define I2C_EN (1u << 6)

#define S0SPCR REG32(0x40020000u)
#define S0SPSR REG32(0x40020004u)
#define S0SPDR REG32(0x40020008u)
#define S0SPCCR REG32(0x4002000Cu)

#define SSP0CR0 REG32(0x40088000u)
#define SSP0CR1 REG32(0x40088004u)
#define SSP0DR REG32(0x40088008u)
#define SSP0SR REG32(0x4008800Cu)

#define RTC_ILR REG32(0x40024000u)
#define RTC_CCR REG32(0x40024008u)
#define RTC_CIIR REG32(0x4002400Cu)
#define RTC_SEC REG32(0x40024020u)
#define RTC_GPREG0 REG32(0x40024044u)

#define WDMOD REG32(0x40000000u)
#define WDTC REG32(0x40000004u)
#define WDFEED REG32(0x40000008u)
#define WDTV REG32(0x4000000Cu)
#define RSID REG32(0x400FC180u)

#define I2C0_IRQ 10
#define RTC_IRQ 17
#define PASSED_FIRST_BOOT 0x600Du

/* Polls until (reg & mask) == want; 0 when it never got there. */
static int wait_for(volatile uint32_t *reg, uint32_t mask, uint32_t want) {
  for (uint32_t n = 0; n < 10000000u; ++n)
    if ((*reg & mask) == want) return 1;
  return 0;
}

static void feed(void) {
  irq_disable();
  WDFEED = 0xAA;
  WDFEED = 0x55;
  irq_enable();
}

static int first_boot(void) {
  /* 10: a register no model answers for reads its reset value (USB device: CCEMPTY). */
  if (REG32(0x5000C200u) != 0x10 || REG32(0x5000C200u) != 0x10) return 10;

  /* 1-3: I2C0 master to an address nobody answers, at 100 kHz from a 1 MHz PCLK. */
  I2SCLH = 5;
  I2SCLL = 5;
  I2CONCLR = 0x6C;
  I2CONSET = I2C_EN | I2C_STA;
  if (!wait_for(&I2CONSET, I2C_SI, I2C_SI) || I2STAT != 0x08) return 1;
  if (!(NVIC_ISPR(0) & (1u << I2C0_IRQ))) return 1;
  I2DAT = 0xA0;
  I2CONCLR = I2C_STA | I2C_SI;
  if (!wait_for(&I2CONSET, I2C_SI, I2C_SI) || I2STAT != 0x20) return 2;
  I2CONSET = I2C_STO;
  I2CONCLR = I2C_SI;
  if (!wait_for(&I2CONSET, I2C_STO, 0) || I2STAT != 0xF8) return 3;
  NVIC_ICPR(0) = 1u << I2C0_IRQ;
  if (NVIC_ISPR(0) & (1u << I2C0_IRQ)) return 3;

  /* 4: SPI master, 8 bits. */
  S0SPCCR = 8;
  S0SPCR = 1u << 5;
  S0SPDR = 0x5A;
  if (!wait_for(&S0SPSR, 0x80, 0x80) || S0SPDR != 0xFF) return 4;

  /* 5: SSP0, 8-bit frames. */
  SSP0CR0 = 7;
  SSP0CR1 = 2;
  SSP0DR = 0x12;
  if (!wait_for(&SSP0SR, SSP_SR_RNE | SSP_SR_BSY, SSP_SR_RNE) || SSP0DR != 0xFF) return 5;

  /* 6: the RTC counts seconds and requests its interrupt on each. */
  RTC_CCR = 1;
  RTC_CIIR = 1;
  uint32_t start = RTC_SEC;
  if (!wait_for(&RTC_ILR, 1, 1) || RTC_SEC == start) return 6;
  if (!(NVIC_ISPR(0) & (1u << RTC_IRQ))) return 6;
  RTC_ILR = 1;
  RTC_CIIR = 0;

  /* 7: the watchdog (0x1000 counts of IRC / 4, about 4 ms) lives while fed each time it
   * has counted halfway down. */
  RTC_GPREG0 = PASSED_FIRST_BOOT;
  RSID = 0xF;
  WDTC = 0x1000;
  WDMOD = 3;
  feed();
  for (int i = 0; i < 20; ++i) {
    if (!wait_for(&WDTV, 0x1800, 0)) return 7; /* below 0x800 */
    feed();
  }
  if (WDMOD & 4) return 7;
  sh_puts("watchdog fed\n");
  for (;;) {
  }
}

/* Back to the 4 MHz IRC without the PLL: a second of RTC time is then few enough cycles to
 * poll through. */
static void run_from_irc(void) {
  PLL0CON = 1;
  PLL0FEED = 0xAA;
  PLL0FEED = 0x55;
  PLL0CON = 0;
  PLL0FEED = 0xAA;
  PLL0FEED = 0x55;
  CCLKCFG = 0;
  CLKSRCSEL = 0;
}

int main(void) {
  run_from_irc();
  if (!(RSID & 4)) return first_boot();
  if (RTC_GPREG0 != PASSED_FIRST_BOOT) return 8;
  if ((WDMOD & 7) != 4) return 9; /* WDTOF only: the reset switched the watchdog off */
  sh_puts("watchdog reset\n");
  return 0;
}
