/* Start-up: the vector table, the reset handler (copy .data, clear .bss, set up the clocks,
 * call main) and default handlers that report where the firmware got stuck. */
#include <stdint.h>

#include "lpc17xx.h"
#include "semihosting.h"

extern uint32_t _stack_top, _data_load, _data_start, _data_end, _bss_start, _bss_end;
extern int main(void);
void system_init(void);

void Reset_Handler(void);
void Default_Handler(void);

/* Handlers a program may define; the others run Default_Handler. */
#define WEAK_ALIAS __attribute__((weak, alias("Default_Handler")))
void NMI_Handler(void) WEAK_ALIAS;
void HardFault_Handler(void) WEAK_ALIAS;
void MemManage_Handler(void) WEAK_ALIAS;
void BusFault_Handler(void) WEAK_ALIAS;
void UsageFault_Handler(void) WEAK_ALIAS;
void SVC_Handler(void) WEAK_ALIAS;
void PendSV_Handler(void) WEAK_ALIAS;
void SysTick_Handler(void) WEAK_ALIAS;
void TIMER0_IRQHandler(void) WEAK_ALIAS;
void TIMER1_IRQHandler(void) WEAK_ALIAS;
void TIMER2_IRQHandler(void) WEAK_ALIAS;
void TIMER3_IRQHandler(void) WEAK_ALIAS;
void UART0_IRQHandler(void) WEAK_ALIAS;
void UART1_IRQHandler(void) WEAK_ALIAS;
void UART2_IRQHandler(void) WEAK_ALIAS;
void UART3_IRQHandler(void) WEAK_ALIAS;
void EINT0_IRQHandler(void) WEAK_ALIAS;
void EINT1_IRQHandler(void) WEAK_ALIAS;
void EINT2_IRQHandler(void) WEAK_ALIAS;
void EINT3_IRQHandler(void) WEAK_ALIAS;
void CAN_IRQHandler(void) WEAK_ALIAS;
void RIT_IRQHandler(void) WEAK_ALIAS;
void PWM1_IRQHandler(void) WEAK_ALIAS;
void ADC_IRQHandler(void) WEAK_ALIAS;

typedef void (*vector_t)(void);

__attribute__((section(".vectors"), used)) const vector_t vectors[16 + 35] = {
    (vector_t)&_stack_top, Reset_Handler, NMI_Handler, HardFault_Handler, MemManage_Handler,
    BusFault_Handler, UsageFault_Handler, 0, 0, 0, 0, SVC_Handler, 0, 0, PendSV_Handler,
    SysTick_Handler,
    [16 + TIMER0_IRQn] = TIMER0_IRQHandler,
    [16 + TIMER1_IRQn] = TIMER1_IRQHandler,
    [16 + TIMER2_IRQn] = TIMER2_IRQHandler,
    [16 + TIMER3_IRQn] = TIMER3_IRQHandler,
    [16 + UART0_IRQn] = UART0_IRQHandler,
    [16 + UART1_IRQn] = UART1_IRQHandler,
    [16 + UART2_IRQn] = UART2_IRQHandler,
    [16 + UART3_IRQn] = UART3_IRQHandler,
    [16 + EINT0_IRQn] = EINT0_IRQHandler,
    [16 + EINT1_IRQn] = EINT1_IRQHandler,
    [16 + EINT2_IRQn] = EINT2_IRQHandler,
    [16 + EINT3_IRQn] = EINT3_IRQHandler,
    [16 + CAN_IRQn] = CAN_IRQHandler,
    [16 + RIT_IRQn] = RIT_IRQHandler,
    [16 + PWM1_IRQn] = PWM1_IRQHandler,
    [16 + ADC_IRQn] = ADC_IRQHandler,
};

/* The LPC17xx boot loader checks that the first eight vectors sum to zero; the linker does
 * not compute that, but the simulator, like a debugger download, does not check it. */

void Reset_Handler(void) {
  uint32_t *src = &_data_load, *dst = &_data_start;
  while (dst < &_data_end) *dst++ = *src++;
  for (dst = &_bss_start; dst < &_bss_end;) *dst++ = 0;
  system_init();
  int status = main();
  sh_exit(status);
  for (;;) wfi();
}

void Default_Handler(void) {
  /* The active exception number tells which handler is missing. */
  uint32_t active = SCB_ICSR & 0x1FF;
  sh_puts("unexpected exception ");
  sh_putu(active);
  sh_puts("\n");
  sh_exit(100 + (int)active);
  for (;;) {
  }
}
