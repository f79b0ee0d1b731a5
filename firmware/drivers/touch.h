/* The touch-screen controller on SSP1 (P0.6 chip select, P0.7 SCK1, P0.8 MISO1, P0.9 MOSI1)
 * with its pen-down signal on P2.13 (low while the panel is pressed). */
#ifndef KORVEL_TOUCH_H
#define KORVEL_TOUCH_H

#include <stdint.h>

void touch_init(void);
int touch_pen_down(void);
/* Reads the pen position in LCD pixels; 0 when the pen is up. */
int touch_read(int *x, int *y);

#endif
