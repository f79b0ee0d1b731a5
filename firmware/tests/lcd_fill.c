/* Fills the whole LCD again and again (red, green, blue, white, black, ...) and exits after
 * the number of fills given by `fills`. The benchmark times it. */
#include "lcd.h"
#include "semihosting.h"

/* A constant in flash (.rodata), read through a volatile pointer so that the compiler keeps the
 * load: a benchmark changes it in the image before the run. */
const uint32_t fills = 5;

int main(void) {
  static const uint16_t colors[] = {COLOR_RED, COLOR_GREEN, COLOR_BLUE, COLOR_WHITE, COLOR_BLACK};
  lcd_init();
  uint32_t count = *(const volatile uint32_t *)&fills;
  for (uint32_t i = 0; i < count; i++) lcd_fill_screen(colors[i % 5]);
  sh_puts("filled\n");
  return 0;
}
