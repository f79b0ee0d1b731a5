/* The smallest preemptive-style scheduler an RTOS starts with: two tasks on their own process
 * stacks, the first started by SVC 0 (exception return to thread mode on the PSP), then
 * switched by PendSV, which SVC 1 requests. Before that, thread mode moves to the PSP by
 * itself and takes an exception there. Each task checks what MRS shows of the banked
 * registers; the last step of task B drops privilege. Prints from both tasks on UART0 and exits
 * with the number of failed checks. */
#include <stdint.h>

#include "lpc17xx.h"
#include "semihosting.h"
#include "uart.h"

#define STACK_WORDS 256
static uint32_t stack_a[STACK_WORDS] __attribute__((aligned(8)));
static uint32_t stack_b[STACK_WORDS] __attribute__((aligned(8)));
uint32_t *task_sp[2];
uint32_t current_task, started, handler_control;
static uint32_t main_msp;
static volatile uint32_t count_b, failures;

static uint32_t mrs_control(void) {
  uint32_t v;
  __asm volatile("mrs %0, control" : "=r"(v));
  return v;
}
static uint32_t mrs_msp(void) {
  uint32_t v;
  __asm volatile("mrs %0, msp" : "=r"(v));
  return v;
}
static uint32_t mrs_psp(void) {
  uint32_t v;
  __asm volatile("mrs %0, psp" : "=r"(v));
  return v;
}
static void yield(void) { __asm volatile("svc 1" ::: "memory"); }

static void fail(const char *what) {
  uart_puts("check failed: ");
  uart_puts(what);
  uart_puts("\n");
  failures++;
}

/* A privileged task sees SPSEL set, its own stack in PSP, and the main stack where SVC 0 left
 * it: one exception frame below main's stack pointer, never popped. */
static void check_banks(const uint32_t *stack) {
  uint32_t psp = mrs_psp();
  if (mrs_control() != 2) fail("CONTROL in a task");
  if (psp < (uint32_t)stack || psp >= (uint32_t)(stack + STACK_WORDS)) fail("PSP in a task");
  if (mrs_msp() != ((main_msp - 32) & ~7u)) fail("MSP in a task");
  if (handler_control & 2) fail("SPSEL in a handler");
}

static void task_a(void) {
  for (uint32_t i = 0; i < 3; i++) {
    check_banks(stack_a);
    uart_puts("task A step ");
    uart_putu(i);
    uart_puts("\n");
    yield();
  }
  while (count_b < 3) yield();
  uart_puts("both tasks done\n");
  sh_exit((int)failures);
}

static void task_b(void) {
  uint32_t local = 0xB0B0B0B0u; /* lives on B's stack across every switch */
  for (uint32_t i = 0; i < 3; i++) {
    check_banks(stack_b);
    uart_puts("task B step ");
    uart_putu(i);
    uart_puts("\n");
    count_b = i + 1;
    if (i == 2) __asm volatile("msr control, %0; isb" ::"r"(3u)); /* unprivileged, still on PSP */
    yield();
  }
  if (mrs_control() != 3) fail("CONTROL after a switch of an unprivileged task");
  if (local != 0xB0B0B0B0u) fail("task B's stack");
  for (;;) yield();
}

/* Thread mode switches itself to the process stack with MSR CONTROL, then takes SysTick
 * (pended through ICSR): the frame must go on the PSP. Answers SP after the return. */
uint32_t probe_psp, probe_control;
void SysTick_Handler(void) {
  probe_psp = mrs_psp();
  probe_control = mrs_control();
}
__attribute__((naked)) static uint32_t exception_on_thread_psp(__attribute__((unused)) uint32_t *top) {
  __asm volatile(
      "mrs r1, control\n"
      "msr psp, r0\n"
      "movs r2, #2\n"
      "msr control, r2\n"
      "isb\n"
      "ldr r2, =0xE000ED04\n"
      "mov r3, #0x04000000\n"
      "str r3, [r2]\n"
      "dsb\n"
      "isb\n"
      "mov r0, sp\n"
      "msr control, r1\n"
      "isb\n"
      "bx lr\n"
      ".ltorg\n");
}

/* The frame a task starts from: r4-r11 as PendSV saves them, then the hardware frame. */
static uint32_t *initial_frame(uint32_t *stack, void (*entry)(void)) {
  uint32_t *sp = stack + STACK_WORDS - 16;
  for (int i = 0; i < 16; i++) sp[i] = 0;
  sp[8 + 5] = 0xFFFFFFFFu;              /* LR: a task never returns */
  sp[8 + 6] = (uint32_t)entry & ~1u;    /* PC */
  sp[8 + 7] = 0x01000000u;              /* xPSR: Thumb */
  return sp;
}

__attribute__((naked)) void SVC_Handler(void) {
  __asm volatile(
      "mrs r0, control\n"
      "ldr r1, =handler_control\n"
      "str r0, [r1]\n"
      "ldr r0, =started\n"
      "ldr r1, [r0]\n"
      "cbnz r1, 1f\n"
      /* SVC 0: start task 0 on its process stack. */
      "movs r1, #1\n"
      "str r1, [r0]\n"
      "ldr r3, =task_sp\n"
      "ldr r0, [r3]\n"
      "ldmia r0!, {r4-r11}\n"
      "msr psp, r0\n"
      "ldr lr, =0xFFFFFFFD\n"
      "bx lr\n"
      /* SVC 1: ask for a switch. */
      "1: ldr r0, =0xE000ED04\n"
      "mov r1, #0x10000000\n"
      "str r1, [r0]\n"
      "bx lr\n"
      ".ltorg\n");
}

__attribute__((naked)) void PendSV_Handler(void) {
  __asm volatile(
      "mrs r0, psp\n"
      "stmdb r0!, {r4-r11}\n"
      "ldr r1, =current_task\n"
      "ldr r2, [r1]\n"
      "ldr r3, =task_sp\n"
      "str r0, [r3, r2, lsl #2]\n"
      "eor r2, r2, #1\n"
      "str r2, [r1]\n"
      "ldr r0, [r3, r2, lsl #2]\n"
      "ldmia r0!, {r4-r11}\n"
      "msr psp, r0\n"
      "bx lr\n"
      ".ltorg\n");
}

int main(void) {
  uart_init();
  uint32_t *top = stack_b + STACK_WORDS;
  uint32_t sp_after = exception_on_thread_psp(top);
  if (probe_psp != (uint32_t)top - 32) fail("frame of an exception taken on the PSP");
  if (probe_control != 0) fail("CONTROL in a handler entered from the PSP");
  if (sp_after != (uint32_t)top) fail("PSP after that exception returned");
  task_sp[0] = initial_frame(stack_a, task_a);
  task_sp[1] = initial_frame(stack_b, task_b);
  *(volatile uint8_t *)0xE000ED22u = 0xF8; /* SHPR3: PendSV at the lowest priority */
  main_msp = mrs_msp();
  __asm volatile("svc 0" ::: "memory");
  uart_puts("main resumed after svc 0\n");
  return 99;
}
