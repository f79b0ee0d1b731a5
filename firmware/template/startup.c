/* Start-up for the LPC1768: the vector table at flash address 0 and the reset handler, which
 * copies .data to SRAM, clears .bss and calls main. Add handlers by defining functions with the
 * names below (they replace the weak defaults). */
#include <stdint.h>

extern uint32_t _stack_top, _data_load, _data_start, _data_end, _bss_start, _bss_end;
extern int main(void);

void Reset_Handler(void);
void Default_Handler(void);

#define WEAK_DEFAULT __attribute__((weak, alias("Default_Handler")))
void NMI_Handler(void) WEAK_DEFAULT;
void HardFault_Handler(void) WEAK_DEFAULT;
void MemManage_Handler(void) WEAK_DEFAULT;
void BusFault_Handler(void) WEAK_DEFAULT;
void UsageFault_Handler(void) WEAK_DEFAULT;
void SVC_Handler(void) WEAK_DEFAULT;
void PendSV_Handler(void) WEAK_DEFAULT;
void SysTick_Handler(void) WEAK_DEFAULT;
void TIMER0_IRQHandler(void) WEAK_DEFAULT;
void EINT0_IRQHandler(void) WEAK_DEFAULT;
void EINT3_IRQHandler(void) WEAK_DEFAULT;

typedef void (*vector_t)(void);

/* 16 system exceptions, then the chip's 35 interrupts (TIMER0 is interrupt 1, EINT0 18, EINT3 21). */
__attribute__((section(".vectors"), used)) const vector_t vectors[16 + 35] = {
    (vector_t)&_stack_top, Reset_Handler, NMI_Handler, HardFault_Handler, MemManage_Handler,
    BusFault_Handler, UsageFault_Handler, 0, 0, 0, 0, SVC_Handler, 0, 0, PendSV_Handler,
    SysTick_Handler,
    [16 + 1] = TIMER0_IRQHandler,
    [16 + 18] = EINT0_IRQHandler,
    [16 + 21] = EINT3_IRQHandler,
};

void Reset_Handler(void) {
  uint32_t *src = &_data_load, *dst = &_data_start;
  while (dst < &_data_end) *dst++ = *src++;
  for (dst = &_bss_start; dst < &_bss_end;) *dst++ = 0;
  main();
  for (;;) __asm__ volatile("wfi");
}

void Default_Handler(void) {
  for (;;) {
  }
}
