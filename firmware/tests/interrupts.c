/* Exception entry and return: SysTick, a timer match interrupt, a software-pended interrupt
 * that preempts a lower-priority handler, PRIMASK holding an interrupt back, and an SVC.
 * Exits 0 when every step happened in order, else the number of the failed step. */
#include "lpc17xx.h"
#include "semihosting.h"

static volatile uint32_t systicks, timer_hits, order[8], order_len, svc_hits;
static volatile uint32_t saved_regs_ok = 1;

void SysTick_Handler(void) { systicks++; }

void TIMER0_IRQHandler(void) {
  TIR(TIMER0_BASE) = 1;
  timer_hits++;
}

/* EINT1 is the low-priority handler; while it runs it pends EINT0 (higher priority), which
 * must run to completion before EINT1 goes on. */
void EINT0_IRQHandler(void) { order[order_len++] = 0; }
void EINT1_IRQHandler(void) {
  order[order_len++] = 10;
  NVIC_ISPR(0) = 1u << EINT0_IRQn;
  __asm volatile("dsb; isb");
  order[order_len++] = 11;
}

void SVC_Handler(void) { svc_hits++; }

static int check_registers_survive(void) {
  /* Values held in caller-saved registers across an interrupt must come back intact. */
  register uint32_t a __asm("r0") = 0x11111111, b __asm("r1") = 0x22222222, c __asm("r2") = 0x33333333;
  register uint32_t d __asm("r3") = 0x44444444, e __asm("r12") = 0x55555555;
  NVIC_ISPR(0) = 1u << EINT0_IRQn;
  __asm volatile("dsb; isb; nop; nop" : "+r"(a), "+r"(b), "+r"(c), "+r"(d), "+r"(e));
  return a == 0x11111111 && b == 0x22222222 && c == 0x33333333 && d == 0x44444444 && e == 0x55555555;
}

int main(void) {
  /* 1: SysTick every 10 000 cycles. */
  SYST_RVR = 10000 - 1;
  SYST_CVR = 0;
  SYST_CSR = 7;
  while (systicks < 5) {
  }
  SYST_CSR = 0;

  /* 2: Timer 0 match 0 every 1000 timer clocks, interrupt and reset on match. */
  TMR(TIMER0_BASE, 0) = 1000 - 1;
  TMCR(TIMER0_BASE) = 3;
  TTCR(TIMER0_BASE) = 2;
  TTCR(TIMER0_BASE) = 1;
  nvic_enable(TIMER0_IRQn);
  while (timer_hits < 3) {
  }
  TTCR(TIMER0_BASE) = 0;
  nvic_disable(TIMER0_IRQn);

  /* 3: preemption by priority. */
  NVIC_IPR8(EINT0_IRQn) = 0x20;
  NVIC_IPR8(EINT1_IRQn) = 0x80;
  nvic_enable(EINT0_IRQn);
  nvic_enable(EINT1_IRQn);
  NVIC_ISPR(0) = 1u << EINT1_IRQn;
  __asm volatile("dsb; isb; nop; nop");
  if (order_len != 3 || order[0] != 10 || order[1] != 0 || order[2] != 11) return 3;

  /* 4: PRIMASK keeps a pended interrupt waiting until it is cleared. */
  irq_disable();
  NVIC_ISPR(0) = 1u << EINT0_IRQn;
  for (volatile int i = 0; i < 1000; i++) {
  }
  if (order_len != 3) return 4;
  if (!(NVIC_ISPR(0) & (1u << EINT0_IRQn))) return 4;
  irq_enable();
  __asm volatile("dsb; isb; nop; nop");
  if (order_len != 4) return 4;

  /* 5: registers across an interrupt. */
  if (!check_registers_survive()) return 5;

  /* 6: SVC. */
  __asm volatile("svc 0");
  if (svc_hits != 1) return 6;

  sh_puts("interrupts ok\n");
  return 0;
}
