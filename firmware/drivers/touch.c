#include "touch.h"

#include "lcd.h"
#include "lpc17xx.h"

#define TOUCH_CS (1u << 6)
#define PEN_DOWN (1u << 13)

void touch_init(void) {
  PCONP |= 1u << 10; /* SSP1 power */
  PINSEL0 = (PINSEL0 & ~(0xFFu << 12)) | (0x2Au << 14); /* P0.7..P0.9 SSP1, P0.6 GPIO */
  FIODIR(0) |= TOUCH_CS;
  FIOSET(0) = TOUCH_CS;
  FIODIR(2) &= ~PEN_DOWN;
  SSP1CR0 = 0x0007; /* 8-bit SPI, mode 0 */
  SSP1CPSR = 2;
  SSP1CR1 = 0x2;    /* enable as master */
}

int touch_pen_down(void) { return !(FIOPIN(2) & PEN_DOWN); }

static uint8_t exchange(uint8_t out) {
  SSP1DR = out;
  while (SSP1SR & SSP_SR_BSY) {
  }
  while (!(SSP1SR & SSP_SR_RNE)) {
  }
  return (uint8_t)SSP1DR;
}

/* One 12-bit conversion: command, then two bytes holding the result's top 8 and low 4 bits. */
static uint16_t convert(uint8_t command) {
  exchange(command);
  uint8_t high = exchange(0);
  uint8_t low = exchange(0);
  return (uint16_t)((high << 4) | (low >> 4));
}

int touch_read(int *x, int *y) {
  if (!touch_pen_down()) return 0;
  FIOCLR(0) = TOUCH_CS;
  uint16_t vx = convert(0x90); /* channel 001: horizontal */
  uint16_t vy = convert(0xD0); /* channel 101: vertical */
  FIOSET(0) = TOUCH_CS;
  if (vx >= 4095 || vy >= 4095) return 0;
  *x = (int)((uint32_t)vx * LCD_WIDTH / 4095);
  *y = (int)((uint32_t)vy * LCD_HEIGHT / 4095);
  return 1;
}
