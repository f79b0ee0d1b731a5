/* CAN demo for two (or more) boards on one bus: KEY1 sends a frame on CAN1 with identifier
 * 0x100 and a counter in its first four data bytes; every frame received is shown on the LCD
 * and printed on UART0 as "rx id=256 data=3" (identifier and first data word in decimal).
 * Each transmission is printed as "tx id=256 data=3". */
#include "can.h"
#include "decimal.h"
#include "inputs.h"
#include "lcd.h"
#include "lpc17xx.h"
#include "uart.h"

#define FRAME_ID 0x100

static volatile uint32_t ticks;
void SysTick_Handler(void) { ticks++; }

static void print_frame(const char *what, const can_frame *f) {
  uart_puts(what);
  uart_puts(" id=");
  uart_putu(f->id);
  uart_puts(" data=");
  uart_putu(f->data_a);
  uart_puts("\n");
}

static void show(int y, uint16_t colour, const can_frame *f) {
  lcd_fill_rect(0, y, LCD_WIDTH, 40, COLOR_NAVY);
  lcd_fill_rect(10, y + 8, 24, 24, colour);
  int x = lcd_draw_number(50, y + 8, f->id, 4, COLOR_WHITE, COLOR_NAVY);
  lcd_draw_number(x + 16, y + 8, f->data_a, 4, COLOR_YELLOW, COLOR_NAVY);
}

int main(void) {
  uart_init();
  inputs_init();
  lcd_init();
  SYST_RVR = CORE_CLOCK_HZ / 100 - 1; /* 10 ms */
  SYST_CVR = 0;
  SYST_CSR = 7;
  lcd_fill_screen(COLOR_NAVY);
  can1_init(CAN_BTR_125K);
  irq_enable();
  uart_puts("can demo ready: KEY1 sends\n");

  uint32_t counter = 0, last_buttons = 0;
  for (;;) {
    uint32_t b = buttons_pressed();
    if ((b & BUTTON_KEY1) && !(last_buttons & BUTTON_KEY1)) {
      can_frame f = {FRAME_ID, 4, ++counter, 0};
      can1_send(&f);
      print_frame("tx", &f);
      show(100, COLOR_GREEN, &f);
    }
    last_buttons = b;
    can_frame r;
    while (can1_receive(&r)) {
      print_frame("rx", &r);
      show(180, COLOR_RED, &r);
    }
    uint32_t start = ticks;
    while (ticks == start) wfi();
  }
}
