/* SPDX-License-Identifier: MIT */
/* bytetab_decode over 1024 bytes, for simulate.cmake to count its cycles per
   byte: with -DRUN the tokens are a run of 1024 (four tokens of 256), with
   -DSINGLES 1024 single bytes, and with neither the program is the same but
   for the call, and its count is what the others' are measured from. On the
   AVR, for which simavr counts nothing, Timer 1 counts the cycles of the
   call, and the program prints them as "cycles N"; the tokens are in flash,
   or with BYTETAB_RAM in RAM, on an ATmega1284P, which has room for them. */
#include <stddef.h>

#ifdef __AVR__
#include <avr/interrupt.h>
#include <avr/io.h>
#include <avr/pgmspace.h>
#include <avr/sleep.h>

#include "avr_mcu_section.h"
#ifdef BYTETAB_RAM
AVR_MCU(16000000, "atmega1284p");
#define ROM
#else
AVR_MCU(16000000, "atmega328p");
#define ROM PROGMEM
#define BYTETAB_READ(p) pgm_read_byte(p)
#endif
AVR_MCU_SIMAVR_CONSOLE(&GPIOR0);
#else
#define ROM
#endif
#include "bytetab/decode.h"
#if defined(BYTETAB_ASM) && defined(__AVR__) && !defined(BYTETAB_RAM)
#define bytetab_decode bytetab_decode_P /* for tokens in flash */
#endif

#define S4 0x41, 0x42, 0x41, 0x42
#define S16 S4, S4, S4, S4
#define S64 S16, S16, S16, S16
#define S256 S64, S64, S64, S64
#ifdef SINGLES
static const unsigned char tokens[] ROM = {S256, S256, S256, S256};
#else
static const unsigned char tokens[] ROM = {0xC1, 0xFF, 0xC1, 0xFF, 0xC1, 0xFF, 0xC1, 0xFF};
#endif
static unsigned char out[1024];

#ifdef __AVR__
static void number(unsigned long n)
{
    if (n >= 10)
        number(n / 10);
    GPIOR0 = (char)('0' + n % 10);
}
#endif

int main(void)
{
    size_t n = sizeof out;
#ifdef __AVR__
    const char *say = "cycles ";
    unsigned long cycles;
    TIFR1 = 1 << TOV1; /* cleared, to tell an overflow */
    TCNT1 = 0;
    TCCR1B = 1 << CS10; /* Timer 1 counts every cycle from here */
#endif
#if defined(RUN) || defined(SINGLES)
    n = bytetab_decode(tokens, sizeof tokens, out, sizeof out);
#else
    (void)tokens;
#endif
#ifdef __AVR__
    cycles = TCNT1 + (TIFR1 & (1 << TOV1) ? 65536ul : 0ul);
    while (*say)
        GPIOR0 = *say++;
    number(cycles);
    GPIOR0 = '\r';
    cli();
    sleep_cpu();
#endif
    return n != sizeof out;
}
