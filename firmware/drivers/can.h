/* CAN1 of the LPC17xx (RD1 P0.0, TD1 P0.1) with the acceptance filter bypassed: every frame
 * on the bus is received. Frames wait in a small queue filled by the CAN interrupt.
 *
 * On the Korvel board emulator the firmware declares two variables that the emulator uses:
 * `result` holds the bit timing written to CANxBTR (receivers compare it with the sender's) and
 * `icr` receives the cause of the last CAN interrupt (1 received, 2 transmitted) when the
 * firmware reads CANxICR. can.c defines both. */
#ifndef KORVEL_CAN_H
#define KORVEL_CAN_H

#include <stdint.h>

#define CAN1_BASE 0x40044000u
#define CAN2_BASE 0x40048000u
#define CAN_MOD(b) (*(volatile uint32_t *)((b) + 0x00))
#define CAN_CMR(b) (*(volatile uint32_t *)((b) + 0x04))
#define CAN_GSR(b) (*(volatile uint32_t *)((b) + 0x08))
#define CAN_ICR(b) (*(volatile uint32_t *)((b) + 0x0C))
#define CAN_IER(b) (*(volatile uint32_t *)((b) + 0x10))
#define CAN_BTR(b) (*(volatile uint32_t *)((b) + 0x14))
#define CAN_SR(b) (*(volatile uint32_t *)((b) + 0x1C))
#define CAN_RFS(b) (*(volatile uint32_t *)((b) + 0x20))
#define CAN_RID(b) (*(volatile uint32_t *)((b) + 0x24))
#define CAN_RDA(b) (*(volatile uint32_t *)((b) + 0x28))
#define CAN_RDB(b) (*(volatile uint32_t *)((b) + 0x2C))
#define CAN_TFI1(b) (*(volatile uint32_t *)((b) + 0x30))
#define CAN_TID1(b) (*(volatile uint32_t *)((b) + 0x34))
#define CAN_TDA1(b) (*(volatile uint32_t *)((b) + 0x38))
#define CAN_TDB1(b) (*(volatile uint32_t *)((b) + 0x3C))
#define CAN_AFMR (*(volatile uint32_t *)0x4003C000u)

/* 125 kbit/s at a 25 MHz CAN clock: prescaler 10 (BRP 9), TSEG1 13, TSEG2 2, SJW 1. */
#define CAN_BTR_125K 0x001C0009u

typedef struct {
  uint32_t id;
  uint32_t dlc;
  uint32_t data_a; /* bytes 1..4 */
  uint32_t data_b; /* bytes 5..8 */
} can_frame;

extern volatile uint32_t result;
extern volatile uint8_t icr;

void can1_init(uint32_t btr);
/* Waits for transmit buffer 1 and sends an 11-bit frame from it. */
void can1_send(const can_frame *frame);
/* Takes the oldest received frame; 0 when none waits. */
int can1_receive(can_frame *frame);
/* Frames lost because the queue was full. */
uint32_t can1_overruns(void);

#endif
