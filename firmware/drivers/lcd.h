/* The board's 240 x 320 LCD: an ILI9325-class controller behind an 8-bit latch and two bus
 * transceivers, driven from P2.0-P2.7 (data) and P0.19-P0.25 (EN, LE, DIR, CS, RS, WR, RD). */
#ifndef KORVEL_LCD_H
#define KORVEL_LCD_H

#include <stdint.h>

#define LCD_WIDTH 240
#define LCD_HEIGHT 320

/* RGB 5-6-5 colours */
#define RGB565(r, g, b) ((uint16_t)((((r) & 0xF8) << 8) | (((g) & 0xFC) << 3) | ((b) >> 3)))
#define COLOR_BLACK 0x0000
#define COLOR_WHITE 0xFFFF
#define COLOR_RED 0xF800
#define COLOR_GREEN 0x07E0
#define COLOR_BLUE 0x001F
#define COLOR_YELLOW 0xFFE0
#define COLOR_NAVY RGB565(0, 0, 96)
#define COLOR_GREY RGB565(96, 96, 96)

void lcd_init(void);
uint16_t lcd_read_register(uint16_t index);
void lcd_write_register(uint16_t index, uint16_t value);
/* Fills the rectangle [x, x + w) x [y, y + h) (top-left origin). */
void lcd_fill_rect(int x, int y, int w, int h, uint16_t color);
void lcd_fill_screen(uint16_t color);
/* Draws a number with a 3 x 5 digit font scaled by `scale`; returns the x after it. */
int lcd_draw_number(int x, int y, uint32_t value, int scale, uint16_t color, uint16_t background);

#endif
