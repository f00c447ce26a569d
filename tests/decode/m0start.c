/* SPDX-License-Identifier: MIT */
/* Start-up for the Cortex-M0 under qemu-system-arm -M microbit: the vector
   table, and a reset handler that sets up the C data, opens newlib's
   semihosting and exits with main's status, which qemu passes on. */
#include <stdlib.h>

int main(void);
void initialise_monitor_handles(void);
void reset(void);
void _fini(void);

extern unsigned char __data_load[], __data_start[], __data_end[], __bss_start__[], __bss_end__[];

/* after the stack pointer, which m0.ld puts first */
__attribute__((section(".vectors"), used)) static void (*const vectors[])(void) = {reset};

void reset(void)
{
    unsigned char *p = __data_start, *q = __data_load;
    while (p < __data_end)
        *p++ = *q++;
    for (p = __bss_start__; p < __bss_end__;)
        *p++ = 0;
    initialise_monitor_handles();
    exit(main());
}

/* exit runs no destructors here: newlib's exit still calls this */
void _fini(void) {}
