/* SPDX-License-Identifier: MIT */
/* The decoder on a small CPU, built and run on a simulator by simulate.cmake:
   decodes the tokens that bytetab made of sample.bin, and tokens that end
   inside a token, through every entry point, compares what comes out with
   expected.h, and prints a verdict line: "decode: pass", or "decode: FAIL",
   the first check that failed and the offset. main returns 0 on a pass. */
#include <stddef.h>

#if defined(__AVR__)
/* Tokens and data in flash (with BYTETAB_RAM, the tokens in RAM); the output
   goes to simavr's console register, which prints a line at each carriage
   return. */
#include <avr/interrupt.h>
#include <avr/io.h>
#include <avr/pgmspace.h>
#include <avr/sleep.h>

#include "avr_mcu_section.h"
#ifdef BYTETAB_RAM
AVR_MCU(16000000, "atmega1284p");
#define TOKENS
#else
AVR_MCU(16000000, "atmega328p");
#define TOKENS PROGMEM
#define BYTETAB_READ(p) pgm_read_byte(p)
#endif
AVR_MCU_SIMAVR_CONSOLE(&GPIOR0);
#define ROM PROGMEM
#define ROMREAD(p) pgm_read_byte(p)
#define NEWLINE '\r'
static void put(char c)
{
    GPIOR0 = c;
}
#elif defined(__SDCC_z80) || defined(__SDCC_sm83)
/* ucsim's simulator interface prints the character written after a 'p':
   an I/O port on the Z80, a memory cell on the SM83. */
#ifdef __SDCC_z80
__sfr __at 0xFE sif;
#else
#define sif (*(volatile unsigned char *)0xFF7F)
#endif
static void put(char c)
{
    sif = 'p';
    sif = c;
}
#else
/* Semihosting through newlib on the Cortex-M0, sim65's on the 6502. */
#include <stdio.h>
static void put(char c)
{
    putchar(c);
}
#endif
#ifndef ROM
#define ROM
#define ROMREAD(p) (*(p))
#define TOKENS
#define NEWLINE '\n'
#endif

#include "bytetab/decode.h"
#if defined(BYTETAB_ASM) && defined(__AVR__) && !defined(BYTETAB_RAM)
#define bytetab_decode bytetab_decode_P /* for tokens in flash */
#endif

#include "expected.h"
#include "sample.bin.h"

/* bytetab_decode called through its address once: under sdcc that calls the
   copy that outofline.c defines, linked in with this file. */
static size_t (*const decodeat)(const unsigned char *, size_t, unsigned char *, size_t) = bytetab_decode;

static const unsigned char tokens[] TOKENS = SAMPLE_BIN;
static const unsigned char expected[] ROM = EXPECTED;
static const unsigned char malformed[] TOKENS = {0x41, 0xC2, 0x03, 0xC3};
static const unsigned char malformedbytes[] ROM = {0x41, 0x42, 0x42, 0x42, 0x42};

#define GUARD 4
static unsigned char out[EXPECTED_SIZE + GUARD];
static const char *failed;
static size_t failedat;

static void check(int ok, const char *what, size_t at)
{
    if (!ok && !failed) {
        failed = what;
        failedat = at;
    }
}

static void fill(void)
{
    size_t i;
    for (i = 0; i < sizeof out; ++i)
        out[i] = 0xEE;
}

/* out holds want[from..from + n), and nothing was written past it when end. */
static void compare(const char *what, const unsigned char *want, size_t from, size_t n, int end)
{
    size_t i;
    for (i = 0; i < n; ++i)
        check(out[i] == ROMREAD(want + from + i), what, from + i);
    for (i = n; end && i < sizeof out; ++i)
        check(out[i] == 0xEE, what, from + i);
}

/* What bytetab_decode_runs has given so far, against what it should give. */
struct runs {
    const unsigned char *want;
    size_t at, size;
};

static void run(void *context, unsigned char value, unsigned length)
{
    struct runs *runs = (struct runs *)context;
    check(length >= 1 && length <= 256, "run length", runs->at);
    for (; length; --length, ++runs->at)
        check(runs->at < runs->size && value == ROMREAD(runs->want + runs->at), "runs", runs->at);
}

/* The tokens t[0..n), whose complete tokens give want[0..size), through every
   entry point; malformed when they end inside a token. */
static void decode(const unsigned char *t, size_t n, const unsigned char *want, size_t size, int malformed)
{
    static const unsigned char pieces[] = {1, 7, 64};
    const size_t whole = malformed ? BYTETAB_ERROR : size;
    struct runs runs;
    struct bytetab_stream stream;
    size_t got, at;
    unsigned i;

    check(bytetab_decoded_size(t, n) == whole, "size", 0);
    fill();
    check(bytetab_decode(t, n, out, size) == whole, "decode", 0);
    if (!malformed)
        compare("decode", want, 0, size, 1);
    fill();
    check(bytetab_decode(t, n, out, sizeof out) == whole, "room to spare", 0);
    compare("room to spare", want, 0, size, 1);
    fill();
    check(decodeat(t, n, out, size - 1) == BYTETAB_ERROR, "one short", 0);
    for (at = size - 1; at < sizeof out; ++at)
        check(out[at] == 0xEE, "one short", at);

    runs.want = want;
    runs.at = 0;
    runs.size = size;
    check(bytetab_decode_runs(t, n, run, &runs) == (malformed ? -1 : 0) && runs.at == size, "runs", runs.at);

    for (i = 0; i < sizeof pieces; ++i) {
        bytetab_stream_init(&stream, t, n);
        for (at = 0; (got = bytetab_stream_read(&stream, out, pieces[i])) != 0 && got != BYTETAB_ERROR; at += got) {
            check(got == (size - at < pieces[i] ? size - at : pieces[i]), "stream", at);
            if (failed)
                return;
            compare("stream", want, at, got, 0);
        }
        check(got == (malformed ? BYTETAB_ERROR : 0) && at == size, "stream end", at);
        check(bytetab_stream_read(&stream, out, pieces[i]) == got, "stream again", at);
    }
}

static void say(const char *s)
{
    while (*s)
        put(*s++);
}

static void number(size_t n)
{
    if (n >= 10)
        number(n / 10);
    put((char)('0' + n % 10));
}

int main(void)
{
    decode(tokens, sizeof tokens, expected, EXPECTED_SIZE, 0);
    decode(malformed, sizeof malformed, malformedbytes, sizeof malformedbytes, 1);
    if (failed) {
        say("decode: FAIL ");
        say(failed);
        say(" at ");
        number(failedat);
    } else
        say("decode: pass");
    put(NEWLINE);
#ifdef __AVR__
    cli();
    sleep_cpu(); /* with interrupts off: simavr stops */
#endif
    return failed != 0;
}
