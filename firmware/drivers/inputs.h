/* Buttons and joystick. KEY1 P2.11, KEY2 P2.12, INT0 P2.10 (low while pressed; INT0 is also
 * EINT0). Joystick on port 1, low while active: P1.25 centre, P1.26 down, P1.27 left,
 * P1.28 right, P1.29 up. */
#ifndef KORVEL_INPUTS_H
#define KORVEL_INPUTS_H

#include <stdint.h>

enum { BUTTON_INT0 = 1, BUTTON_KEY1 = 2, BUTTON_KEY2 = 4 };
enum { JOY_CENTRE = 1, JOY_DOWN = 2, JOY_LEFT = 4, JOY_RIGHT = 8, JOY_UP = 16 };

void inputs_init(void);
uint32_t buttons_pressed(void);  /* BUTTON_* bits */
uint32_t joystick_state(void);   /* JOY_* bits */
const char *joystick_name(uint32_t state);

#endif
