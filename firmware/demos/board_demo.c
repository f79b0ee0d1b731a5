/* Board demo: draws on the LCD and follows the touch panel, the buttons and the joystick.
 * Every change is also printed on UART0:
 *   "KEY1 pressed" / "KEY1 released", "joystick up", "touch 120 160".
 * Screen: a navy background, three button lamps at the top (INT0, KEY1, KEY2: grey when up,
 * green while pressed), a joystick lamp, the last touch position in digits, and a white dot
 * where the pen is. */
#include "inputs.h"
#include "lcd.h"
#include "lpc17xx.h"
#include "touch.h"
#include "uart.h"

#define LAMP_Y 8
#define LAMP_SIZE 40
static const int lamp_x[3] = {10, 60, 110};
static const char *button_names[3] = {"INT0", "KEY1", "KEY2"};

static volatile uint32_t ticks;
void SysTick_Handler(void) { ticks++; }

static void wait_ticks(uint32_t n) {
  uint32_t start = ticks;
  while (ticks - start < n) wfi();
}

static void draw_buttons(uint32_t pressed) {
  for (int i = 0; i < 3; i++)
    lcd_fill_rect(lamp_x[i], LAMP_Y, LAMP_SIZE, LAMP_SIZE, (pressed >> i) & 1 ? COLOR_GREEN : COLOR_GREY);
}

static void draw_joystick(uint32_t state) {
  /* A 3 x 3 grid of cells at the top right; the active directions light up yellow. */
  const int x0 = 170, y0 = 8, cell = 20;
  for (int r = 0; r < 3; r++)
    for (int c = 0; c < 3; c++) {
      if (r != 1 && c != 1) continue; /* a plus sign: four directions and the centre */
      int on = (r == 0 && (state & JOY_UP)) || (r == 2 && (state & JOY_DOWN)) || (c == 0 && (state & JOY_LEFT)) ||
               (c == 2 && (state & JOY_RIGHT)) || (r == 1 && c == 1 && (state & JOY_CENTRE));
      lcd_fill_rect(x0 + c * cell + 1, y0 + r * cell + 1, cell - 2, cell - 2, on ? COLOR_YELLOW : COLOR_GREY);
    }
}

int main(void) {
  uart_init();
  inputs_init();
  touch_init();
  lcd_init();
  SYST_RVR = CORE_CLOCK_HZ / 100 - 1; /* 10 ms */
  SYST_CVR = 0;
  SYST_CSR = 7;

  uint16_t id = lcd_read_register(0x00);
  uart_puts("board demo: LCD controller ");
  uart_putu(id);
  uart_puts(id == 0x9325 ? " answers\n" : " does not answer\n");

  lcd_fill_screen(COLOR_NAVY);
  draw_buttons(0);
  draw_joystick(0);
  lcd_fill_rect(0, 70, LCD_WIDTH, 2, COLOR_WHITE);
  uart_puts("board demo ready\n");

  uint32_t buttons = 0, joystick = 0;
  int last_x = -1, last_y = -1;
  for (;;) {
    uint32_t b = buttons_pressed();
    if (b != buttons) {
      for (int i = 0; i < 3; i++)
        if (((b ^ buttons) >> i) & 1) {
          uart_puts(button_names[i]);
          uart_puts((b >> i) & 1 ? " pressed\n" : " released\n");
        }
      buttons = b;
      draw_buttons(b);
    }
    uint32_t j = joystick_state();
    if (j != joystick) {
      joystick = j;
      uart_puts("joystick ");
      uart_puts(joystick_name(j));
      uart_puts(j & JOY_CENTRE ? " centre\n" : "\n");
      draw_joystick(j);
    }
    int x, y;
    if (touch_read(&x, &y) && (x != last_x || y != last_y)) {
      if (last_x >= 0) lcd_fill_rect(last_x - 2, last_y - 2, 5, 5, COLOR_NAVY);
      last_x = x, last_y = y;
      lcd_fill_rect(x - 2, y - 2, 5, 5, COLOR_WHITE);
      lcd_fill_rect(10, 290, 220, 20, COLOR_NAVY);
      int after = lcd_draw_number(10, 290, (uint32_t)x, 4, COLOR_WHITE, COLOR_NAVY);
      lcd_draw_number(after + 12, 290, (uint32_t)y, 4, COLOR_WHITE, COLOR_NAVY);
      uart_puts("touch ");
      uart_putu((uint32_t)x);
      uart_puts(" ");
      uart_putu((uint32_t)y);
      uart_puts("\n");
    }
    wait_ticks(1);
  }
}
