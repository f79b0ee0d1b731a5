#include "inputs.h"

#include "lpc17xx.h"

void inputs_init(void) {
  FIODIR(2) &= ~((1u << 10) | (1u << 11) | (1u << 12));
  FIODIR(1) &= ~(0x1Fu << 25);
}

uint32_t buttons_pressed(void) {
  uint32_t pins = ~FIOPIN(2);
  return ((pins >> 10) & 1 ? BUTTON_INT0 : 0) | ((pins >> 11) & 1 ? BUTTON_KEY1 : 0) |
         ((pins >> 12) & 1 ? BUTTON_KEY2 : 0);
}

uint32_t joystick_state(void) { return (~FIOPIN(1) >> 25) & 0x1F; }

const char *joystick_name(uint32_t s) {
  static const char *names[] = {"none", "up", "down", "left", "right", "up-left", "up-right", "down-left", "down-right"};
  int up = (s & JOY_UP) != 0, down = (s & JOY_DOWN) != 0, left = (s & JOY_LEFT) != 0, right = (s & JOY_RIGHT) != 0;
  if (up && left) return names[5];
  if (up && right) return names[6];
  if (down && left) return names[7];
  if (down && right) return names[8];
  if (up) return names[1];
  if (down) return names[2];
  if (left) return names[3];
  if (right) return names[4];
  return names[0];
}
