/* Bit-band aliases: every alias of a test word in the SRAM region (AHB SRAM) and in the
 * peripheral region (a pin connect register) is written and read, with the words beside it
 * watched for stray changes; then P1.18 becomes an output and goes high through the aliases of
 * FIO1DIR and FIO1SET. Exits with the number of failed checks. */
#include <stdint.h>

#include "lpc17xx.h"
#include "semihosting.h"

#define ALIAS(base, alias_base, addr, bit) \
  (*(volatile uint32_t *)((alias_base) + ((uint32_t)(addr) - (base)) * 32u + (uint32_t)(bit) * 4u))
#define SRAM_BIT(addr, bit) ALIAS(0x20000000u, 0x22000000u, addr, bit)
#define PERIPH_BIT(addr, bit) ALIAS(0x40000000u, 0x42000000u, addr, bit)

static volatile uint32_t sram_words[3] __attribute__((section(".ahbram")));
#define PINMODE(n) REG32(PINSEL_BASE + 0x40u + 4u * (n))

static uint32_t failures;

static void check(int ok, const char *what, uint32_t bit) {
  if (ok) return;
  sh_puts("check failed: ");
  sh_puts(what);
  sh_puts(" bit ");
  sh_putu(bit);
  sh_puts("\n");
  failures++;
}

/* `word` with neighbours `before` and `after`; `sram` picks the alias region. */
static void every_alias(volatile uint32_t *before, volatile uint32_t *word, volatile uint32_t *after, int sram,
                        const char *name) {
  *before = 0x5A5A5A5Au;
  *after = 0xA5A5A5A5u;
  for (uint32_t b = 0; b < 32; b++) {
    volatile uint32_t *alias = sram ? &SRAM_BIT(word, b) : &PERIPH_BIT(word, b);
    *word = 0;
    *alias = 1;
    check(*word == 1u << b, name, b);
    for (uint32_t c = 0; c < 32; c++) {
      uint32_t seen = sram ? SRAM_BIT(word, c) : PERIPH_BIT(word, c);
      if (seen != (c == b)) check(0, "read through the alias", b);
    }
    *word = 0xFFFFFFFFu;
    *alias = 2; /* only bit 0 of the value counts: this clears */
    check(*word == ~(1u << b), name, b);
  }
  check(*before == 0x5A5A5A5Au && *after == 0xA5A5A5A5u, "the words beside the target", 0);
  *word = 0;
}

int main(void) {
  every_alias(&sram_words[0], &sram_words[1], &sram_words[2], 1, "SRAM alias write");
  every_alias(&PINMODE(0), &PINMODE(1), &PINMODE(2), 0, "peripheral alias write");
  PINMODE(0) = PINMODE(2) = 0;

  SRAM_BIT(&FIODIR(1), 18) = 1;
  SRAM_BIT(&FIOSET(1), 18) = 1;
  check(FIODIR(1) == 1u << 18, "FIO1DIR through the alias", 18);
  check((FIOPIN(1) & (1u << 18)) != 0, "FIO1SET through the alias", 18);
  check(SRAM_BIT(&FIOPIN(1), 18) == 1, "FIO1PIN read through the alias", 18);

  if (!failures) sh_puts("bit-band ok\n");
  return (int)failures;
}
