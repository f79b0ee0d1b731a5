/* UART0 echo with interrupt-driven receive and transmit through ring buffers, as console
 * drivers are usually written: the receive interrupt (data at the trigger level, or the
 * character time-out for a short tail) fills the receive ring; the transmitter-empty interrupt
 * drains the transmit ring, up to 16 bytes at a time, and is switched off while the ring is
 * empty. Every byte received is sent back; Ctrl-D (0x04) ends the program with status 0 once
 * "bye" has left the wire. An overrun is counted and reported at the end. */
#include "lpc17xx.h"
#include "uart.h"

#define RING 64u /* a power of two */

static volatile uint8_t rx_ring[RING], tx_ring[RING];
static volatile uint32_t rx_head, rx_tail, tx_head, tx_tail, overruns;

void UART0_IRQHandler(void) {
  for (;;) {
    uint32_t iir = U0IIR;
    if (iir & 1) break; /* nothing more pending */
    switch ((iir >> 1) & 7) {
      case 3: /* receive line status */
        if (U0LSR & 0x02) overruns++;
        break;
      case 2: /* receive data available */
      case 6: /* character time-out */
        while (U0LSR & 0x01) {
          uint8_t c = (uint8_t)U0RBR;
          if (rx_head - rx_tail < RING) rx_ring[rx_head++ % RING] = c;
        }
        break;
      case 1: /* transmit holding register empty */
        for (int n = 0; n < 16 && tx_tail != tx_head; n++) U0THR = tx_ring[tx_tail++ % RING];
        if (tx_tail == tx_head) U0IER &= ~2u;
        break;
      default: break;
    }
  }
}

static void put(uint8_t c) {
  while (tx_head - tx_tail >= RING) {
  }
  tx_ring[tx_head % RING] = c;
  irq_disable();
  tx_head++;
  U0IER |= 2u; /* enabling THRE with the FIFO empty starts the transmission */
  irq_enable();
}

static void puts_ring(const char *s) {
  while (*s) put((uint8_t)*s++);
}

int main(void) {
  uart_init();
  U0FCR = 0x87; /* FIFOs on and reset, receive trigger at 8 bytes */
  U0IER = 1u;   /* receive data and time-out interrupts */
  nvic_enable(UART0_IRQn);
  puts_ring("uart echo ready\n");
  for (;;) {
    while (rx_tail == rx_head) {
    }
    uint8_t c = rx_ring[rx_tail++ % RING];
    if (c == 0x04) break;
    put(c);
  }
  if (overruns) puts_ring("overrun\n");
  puts_ring("bye\n");
  while (tx_tail != tx_head || !(U0LSR & 0x40)) {
  }
  return 0;
}
