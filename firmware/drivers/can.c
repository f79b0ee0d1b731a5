#include "can.h"

#include "lpc17xx.h"

volatile uint32_t result;
volatile uint8_t icr;

#define QUEUE 8
static can_frame queue[QUEUE];
static volatile uint32_t head, tail, overruns;

void can1_init(uint32_t btr) {
  PCONP |= 1u << 13;                            /* PCCAN1 */
  PINSEL0 = (PINSEL0 & ~0xFu) | 0x5u;           /* P0.0 RD1, P0.1 TD1 */
  CAN_MOD(CAN1_BASE) = 1;                       /* reset mode while configuring */
  CAN_IER(CAN1_BASE) = 0;
  CAN_GSR(CAN1_BASE) = 0;
  result = btr;                                 /* what the board emulator compares */
  CAN_BTR(CAN1_BASE) = btr;
  CAN_AFMR = 2;                                 /* acceptance filter bypassed */
  CAN_MOD(CAN1_BASE) = 0;                       /* operating mode */
  CAN_IER(CAN1_BASE) = 1;                       /* receive interrupt */
  nvic_enable(CAN_IRQn);
}

void can1_send(const can_frame *f) {
  while (!(CAN_SR(CAN1_BASE) & (1u << 2))) {    /* TBS1: transmit buffer 1 free */
  }
  CAN_TFI1(CAN1_BASE) = (f->dlc & 0xF) << 16;
  CAN_TID1(CAN1_BASE) = f->id & 0x7FF;
  CAN_TDA1(CAN1_BASE) = f->data_a;
  CAN_TDB1(CAN1_BASE) = f->data_b;
  CAN_CMR(CAN1_BASE) = 0x21;                    /* transmission request, buffer 1 */
}

int can1_receive(can_frame *f) {
  if (head == tail) return 0;
  *f = queue[tail % QUEUE];
  tail++;
  return 1;
}

uint32_t can1_overruns(void) { return overruns; }

void CAN_IRQHandler(void) {
  icr = 0;
  uint32_t cause = CAN_ICR(CAN1_BASE);          /* the emulator also reports it in icr */
  if ((cause & 1) || icr == 1) {
    can_frame f;
    f.dlc = (CAN_RFS(CAN1_BASE) >> 16) & 0xF;
    f.id = CAN_RID(CAN1_BASE);
    f.data_a = CAN_RDA(CAN1_BASE);
    f.data_b = CAN_RDB(CAN1_BASE);
    if (head - tail < QUEUE) {
      queue[head % QUEUE] = f;
      head++;
    } else {
      overruns++;
    }
    CAN_CMR(CAN1_BASE) = 0x04;                  /* release the receive buffer */
  }
}
