/* LPC17xx register definitions used by the sample firmware, from the LPC17xx user manual.
 * Only the parts the board's drivers and demos touch are here. */
#ifndef KORVEL_LPC17XX_H
#define KORVEL_LPC17XX_H

#include <stdint.h>

#define REG32(addr) (*(volatile uint32_t *)(addr))

/* ---- System control ---- */
#define SC_BASE 0x400FC000u
#define FLASHCFG REG32(SC_BASE + 0x000)
#define PLL0CON REG32(SC_BASE + 0x080)
#define PLL0CFG REG32(SC_BASE + 0x084)
#define PLL0STAT REG32(SC_BASE + 0x088)
#define PLL0FEED REG32(SC_BASE + 0x08C)
#define PCONP REG32(SC_BASE + 0x0C4)
#define CCLKCFG REG32(SC_BASE + 0x104)
#define CLKSRCSEL REG32(SC_BASE + 0x10C)
#define EXTINT REG32(SC_BASE + 0x140)
#define EXTMODE REG32(SC_BASE + 0x148)
#define EXTPOLAR REG32(SC_BASE + 0x14C)
#define SCS REG32(SC_BASE + 0x1A0)
#define PCLKSEL0 REG32(SC_BASE + 0x1A8)
#define PCLKSEL1 REG32(SC_BASE + 0x1AC)

/* ---- Pin connect ---- */
#define PINSEL_BASE 0x4002C000u
#define PINSEL0 REG32(PINSEL_BASE + 0x000)
#define PINSEL1 REG32(PINSEL_BASE + 0x004)
#define PINSEL3 REG32(PINSEL_BASE + 0x00C)
#define PINSEL4 REG32(PINSEL_BASE + 0x010)

/* ---- Fast GPIO (port n at 0x2009C000 + 0x20 * n) ---- */
#define FIO_BASE 0x2009C000u
#define FIODIR(n) REG32(FIO_BASE + 0x20u * (n) + 0x00)
#define FIOMASK(n) REG32(FIO_BASE + 0x20u * (n) + 0x10)
#define FIOPIN(n) REG32(FIO_BASE + 0x20u * (n) + 0x14)
#define FIOSET(n) REG32(FIO_BASE + 0x20u * (n) + 0x18)
#define FIOCLR(n) REG32(FIO_BASE + 0x20u * (n) + 0x1C)

/* ---- GPIO interrupts ---- */
#define GPIOINT_BASE 0x40028000u
#define IOINTSTATUS REG32(GPIOINT_BASE + 0x80)
#define IO2INTSTATR REG32(GPIOINT_BASE + 0xA4)
#define IO2INTSTATF REG32(GPIOINT_BASE + 0xA8)
#define IO2INTCLR REG32(GPIOINT_BASE + 0xAC)
#define IO2INTENR REG32(GPIOINT_BASE + 0xB0)
#define IO2INTENF REG32(GPIOINT_BASE + 0xB4)

/* ---- Timers 0..3 ---- */
#define TIMER0_BASE 0x40004000u
#define TIMER1_BASE 0x40008000u
#define TIMER2_BASE 0x40090000u
#define TIMER3_BASE 0x40094000u
#define TIR(b) REG32((b) + 0x00)
#define TTCR(b) REG32((b) + 0x04)
#define TTC(b) REG32((b) + 0x08)
#define TPR(b) REG32((b) + 0x0C)
#define TMCR(b) REG32((b) + 0x14)
#define TMR(b, k) REG32((b) + 0x18 + 4u * (k))

/* ---- Repetitive interrupt timer ---- */
#define RICOMPVAL REG32(0x400B0000u)
#define RIMASK REG32(0x400B0004u)
#define RICTRL REG32(0x400B0008u)
#define RICOUNTER REG32(0x400B000Cu)

/* ---- UART0 ---- */
#define UART0_BASE 0x4000C000u
#define U0THR REG32(UART0_BASE + 0x00)
#define U0DLL REG32(UART0_BASE + 0x00)
#define U0DLM REG32(UART0_BASE + 0x04)
#define U0FCR REG32(UART0_BASE + 0x08)
#define U0LCR REG32(UART0_BASE + 0x0C)
#define U0LSR REG32(UART0_BASE + 0x14)
#define U0RBR REG32(UART0_BASE + 0x00)
#define U0IER REG32(UART0_BASE + 0x04)
#define U0IIR REG32(UART0_BASE + 0x08)
#define U0TER REG32(UART0_BASE + 0x30)

/* ---- SSP1 ---- */
#define SSP1_BASE 0x40030000u
#define SSP1CR0 REG32(SSP1_BASE + 0x00)
#define SSP1CR1 REG32(SSP1_BASE + 0x04)
#define SSP1DR REG32(SSP1_BASE + 0x08)
#define SSP1SR REG32(SSP1_BASE + 0x0C)
#define SSP1CPSR REG32(SSP1_BASE + 0x10)
#define SSP_SR_RNE (1u << 2)
#define SSP_SR_BSY (1u << 4)

/* ---- A/D converter ---- */
#define AD0CR REG32(0x40034000u)
#define AD0GDR REG32(0x40034004u)
#define AD0INTEN REG32(0x4003400Cu)
#define AD0DR(n) REG32(0x40034010u + 4u * (n))
#define AD0STAT REG32(0x40034030u)
#define ADC_PDN (1u << 21)
#define ADC_START_NOW (1u << 24)
#define ADC_DONE (1u << 31)
#define ADC_RESULT(dr) (((dr) >> 4) & 0xFFFu)

/* ---- D/A converter ---- */
#define DACR REG32(0x4008C000u)

/* ---- Cortex-M3 core ---- */
#define SYST_CSR REG32(0xE000E010u)
#define SYST_RVR REG32(0xE000E014u)
#define SYST_CVR REG32(0xE000E018u)
#define NVIC_ISER(n) REG32(0xE000E100u + 4u * (n))
#define NVIC_ICER(n) REG32(0xE000E180u + 4u * (n))
#define NVIC_ISPR(n) REG32(0xE000E200u + 4u * (n))
#define NVIC_ICPR(n) REG32(0xE000E280u + 4u * (n))
#define NVIC_IABR(n) REG32(0xE000E300u + 4u * (n))
#define NVIC_IPR8(n) (*(volatile uint8_t *)(0xE000E400u + (n)))
#define SCB_ICSR REG32(0xE000ED04u)
#define SCB_VTOR REG32(0xE000ED08u)
#define SCB_AIRCR REG32(0xE000ED0Cu)
#define SCB_CCR REG32(0xE000ED14u)
#define SCB_SHCSR REG32(0xE000ED24u)
#define SCB_CFSR REG32(0xE000ED28u)
#define SCB_HFSR REG32(0xE000ED2Cu)
#define SCB_MMFAR REG32(0xE000ED34u)
#define SCB_BFAR REG32(0xE000ED38u)

/* Interrupt numbers */
enum {
  TIMER0_IRQn = 1, TIMER1_IRQn = 2, TIMER2_IRQn = 3, TIMER3_IRQn = 4, UART0_IRQn = 5,
  PWM1_IRQn = 9, UART1_IRQn = 6, UART2_IRQn = 7, UART3_IRQn = 8,
  SSP1_IRQn = 15, EINT0_IRQn = 18, EINT1_IRQn = 19, EINT2_IRQn = 20, EINT3_IRQn = 21,
  ADC_IRQn = 22, CAN_IRQn = 25, RIT_IRQn = 29,
};

static inline void nvic_enable(int irq) { NVIC_ISER(irq / 32) = 1u << (irq % 32); }
static inline void nvic_disable(int irq) { NVIC_ICER(irq / 32) = 1u << (irq % 32); }
static inline void irq_enable(void) { __asm volatile("cpsie i" ::: "memory"); }
static inline void irq_disable(void) { __asm volatile("cpsid i" ::: "memory"); }
static inline void wfi(void) { __asm volatile("wfi"); }

/* The core clock after system_init (100 MHz from the 12 MHz crystal). */
#define CORE_CLOCK_HZ 100000000u

#endif
