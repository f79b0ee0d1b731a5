#include "lcd.h"

#include "lpc17xx.h"

/* Control pins on port 0. */
#define LCD_EN (1u << 19)  /* 1: low-byte transceiver, 0: high-byte transceiver */
#define LCD_LE (1u << 20)  /* latch enable: transparent while high */
#define LCD_DIR (1u << 21) /* 1: MCU -> LCD, 0: LCD -> MCU */
#define LCD_CS (1u << 22)
#define LCD_RS (1u << 23)  /* 0: index, 1: data */
#define LCD_WR (1u << 24)
#define LCD_RD (1u << 25)
#define LCD_CONTROL (LCD_EN | LCD_LE | LCD_DIR | LCD_CS | LCD_RS | LCD_WR | LCD_RD)

/* P2.0-P2.7 through the byte-wide view of FIO2PIN, so the other port-2 pins are untouched. */
#define FIO2PIN0 (*(volatile uint8_t *)(FIO_BASE + 0x40 + 0x14))

/* Puts a 16-bit value on the LCD bus: the low byte is caught in the latch, the high byte goes
 * through the high-byte transceiver. */
static inline void bus_put(uint16_t value) {
  FIO2PIN0 = (uint8_t)value;
  FIOSET(0) = LCD_LE;
  FIOCLR(0) = LCD_LE;
  FIO2PIN0 = (uint8_t)(value >> 8);
}

static inline void write_strobe(void) {
  FIOCLR(0) = LCD_WR;
  FIOSET(0) = LCD_WR;
}

static void write_index(uint16_t index) {
  bus_put(index);
  FIOCLR(0) = LCD_CS | LCD_RS;
  write_strobe();
  FIOSET(0) = LCD_CS | LCD_RS;
}

static void write_data(uint16_t value) {
  bus_put(value);
  FIOCLR(0) = LCD_CS;
  write_strobe();
  FIOSET(0) = LCD_CS;
}

void lcd_write_register(uint16_t index, uint16_t value) {
  write_index(index);
  write_data(value);
}

uint16_t lcd_read_register(uint16_t index) {
  write_index(index);
  /* Turn the bus around: P2.0-P2.7 become inputs, the transceivers drive towards the MCU. */
  FIODIR(2) &= ~0xFFu;
  FIOCLR(0) = LCD_DIR | LCD_EN;
  FIOCLR(0) = LCD_CS;
  FIOCLR(0) = LCD_RD;
  uint16_t high = FIOPIN(2) & 0xFF; /* EN = 0: the high byte */
  FIOSET(0) = LCD_EN;
  uint16_t low = FIOPIN(2) & 0xFF;
  FIOSET(0) = LCD_RD;
  FIOSET(0) = LCD_CS;
  FIOCLR(0) = LCD_EN;
  FIOSET(0) = LCD_DIR;
  FIODIR(2) |= 0xFFu;
  return (uint16_t)(high << 8 | low);
}

static void delay_cycles(uint32_t n) {
  for (volatile uint32_t i = 0; i < n; i++) {
  }
}

void lcd_init(void) {
  PINSEL4 &= ~0xFFFFu; /* P2.0-P2.7 GPIO */
  PINSEL1 &= ~(0xFFFu << 6);
  FIODIR(2) |= 0xFFu;
  /* Idle: strobes and select high, latch closed, MCU drives, high-byte transceiver selected. */
  FIOSET(0) = LCD_CS | LCD_RS | LCD_WR | LCD_RD | LCD_DIR;
  FIOCLR(0) = LCD_LE | LCD_EN;
  FIODIR(0) |= LCD_CONTROL;

  lcd_write_register(0x00, 0x0001); /* start the oscillator */
  delay_cycles(1000);
  /* SS = 1 undoes the mirror that 02h = 0700h selects: x runs left to right. */
  lcd_write_register(0x01, 0x0100);
  lcd_write_register(0x02, 0x0700);
  lcd_write_register(0x03, 0x1030); /* BGR, both address increments, horizontal first */
  lcd_write_register(0x0C, 0x0000); /* 16-bit RGB interface */
  lcd_write_register(0x10, 0x1690); /* power on: source driver on (SAP), out of standby and sleep */
  lcd_write_register(0x60, 0xA700); /* gate scan from the top: (0, 0) is the top-left pixel */
  lcd_write_register(0x61, 0x0001);
  lcd_write_register(0x07, 0x0133); /* display on */
}

static void set_window(int x, int y, int w, int h) {
  lcd_write_register(0x50, (uint16_t)x);
  lcd_write_register(0x51, (uint16_t)(x + w - 1));
  lcd_write_register(0x52, (uint16_t)y);
  lcd_write_register(0x53, (uint16_t)(y + h - 1));
  lcd_write_register(0x20, (uint16_t)x);
  lcd_write_register(0x21, (uint16_t)y);
}

void lcd_fill_rect(int x, int y, int w, int h, uint16_t color) {
  if (x < 0) w += x, x = 0;
  if (y < 0) h += y, y = 0;
  if (x + w > LCD_WIDTH) w = LCD_WIDTH - x;
  if (y + h > LCD_HEIGHT) h = LCD_HEIGHT - y;
  if (w <= 0 || h <= 0) return;
  set_window(x, y, w, h);
  /* The window lasts one chip-select period: select, write the index 22h and all the pixels,
   * and only then deselect. */
  bus_put(0x22);
  FIOCLR(0) = LCD_CS | LCD_RS;
  write_strobe();
  FIOSET(0) = LCD_RS;
  uint8_t lo = (uint8_t)color, hi = (uint8_t)(color >> 8);
  FIO2PIN0 = lo;
  FIOSET(0) = LCD_LE;
  FIOCLR(0) = LCD_LE;
  FIO2PIN0 = hi;
  for (uint32_t n = (uint32_t)w * (uint32_t)h; n > 0; n--) write_strobe();
  FIOSET(0) = LCD_CS;
}

void lcd_fill_screen(uint16_t color) { lcd_fill_rect(0, 0, LCD_WIDTH, LCD_HEIGHT, color); }

/* 3 x 5 digits, one row of three bits per nibble, top row first. */
static const uint16_t digits[10] = {
    0x7B6F, 0x2C97, 0x73E7, 0x73CF, 0x5BC9, 0x79CF, 0x79EF, 0x7249, 0x7BEF, 0x7BCF,
};

static void draw_digit(int x, int y, int d, int scale, uint16_t color, uint16_t background) {
  for (int row = 0; row < 5; row++)
    for (int col = 0; col < 3; col++) {
      int on = (digits[d] >> (14 - (row * 3 + col))) & 1;
      lcd_fill_rect(x + col * scale, y + row * scale, scale, scale, on ? color : background);
    }
}

int lcd_draw_number(int x, int y, uint32_t value, int scale, uint16_t color, uint16_t background) {
  char buf[10];
  int n = 0;
  do {
    buf[n++] = (char)(value % 10);
    value /= 10;
  } while (value && n < 10);
  while (n--) {
    draw_digit(x, y, buf[n], scale, color, background);
    x += 4 * scale;
  }
  return x;
}
