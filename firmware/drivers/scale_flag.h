/* The timer-scaling handshake with the board emulator: the firmware writes 1 to the byte
 * variable ScaleFlag, runs a stretch of code of known length, and writes 0. The emulator
 * measures the ratio of real to simulated time over that stretch and from then on rescales
 * every timer match value the firmware writes, so timers tick at the real-time rate. */
#ifndef KORVEL_SCALE_FLAG_H
#define KORVEL_SCALE_FLAG_H

#include <stdint.h>

extern volatile unsigned char ScaleFlag;
void scale_flag_measure(uint32_t loops);

#endif
