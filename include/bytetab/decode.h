/* SPDX-License-Identifier: 0BSD */
/* bytetab/decode.h: decodes the tokens of a header written by bytetab.
   Under the 0BSD license: use it for any purpose, with no notice owed in the
   programs that contain it.

   A token byte with bit 7 clear is one byte of that value; one with bit 7 set
   is followed by a count c, and the two stand for c + 1 bytes of its low 7
   bits. Tokens that end right after such a first byte are malformed.

   size_t bytetab_decoded_size(const unsigned char *tokens, size_t count);
       How many bytes the tokens decode to; BYTETAB_ERROR when they are
       malformed (or the number does not fit in a size_t).
   size_t bytetab_decode(const unsigned char *tokens, size_t count, unsigned char *out, size_t capacity);
       Writes the bytes to out, never past capacity, and returns their number;
       BYTETAB_ERROR when the tokens are malformed or the bytes do not fit.
   int bytetab_decode_runs(const unsigned char *tokens, size_t count,
                           void (*run)(void *context, unsigned char value, unsigned length), void *context);
       Calls run once per token, in order, with its value and length (1 to
       256): for output that is not plain memory. Returns 0, or -1 when the
       tokens are malformed, after calling run for every complete token.
   void bytetab_stream_init(struct bytetab_stream *stream, const unsigned char *tokens, size_t count);
   size_t bytetab_stream_read(struct bytetab_stream *stream, unsigned char *out, size_t n);
       Decodes a piece at a time: writes the next n bytes to out and returns
       how many it wrote, fewer than n only where the data ends; 0 once all is
       read; BYTETAB_ERROR when the data ends inside a token and nothing more
       can be written.

   Token bytes are read only through BYTETAB_READ(p), which is (*(p)) unless
   defined before the include: pgm_read_byte(p) for tokens in AVR flash, say
   (in its low 64 KiB, which a pointer there reaches). It may evaluate p more
   than once: the decoder hands it only plain pointers, never an expression
   with a side effect.

   C++17 and later, in namespace bytetab (with <array>), decode at compile
   time; malformed tokens or a Size other than the decoded size don't compile:
       constexpr std::size_t decoded_size(const unsigned char (&tokens)[N]);
       constexpr std::array<unsigned char, Size> decode<Size>(const unsigned char (&tokens)[N]);

       static constexpr unsigned char tokens[] = SPRITE; // from sprite.h, by bytetab sprite
       static constexpr auto sprite = bytetab::decode<bytetab::decoded_size(tokens)>(tokens);

   At their default limits, g++ 12 and clang 14 decode so about 200,000 single
   bytes, or 1 MiB in runs; -fconstexpr-loop-limit and -fconstexpr-ops-limit
   (g++) and -fconstexpr-steps (clang) raise the limits.

   C89 and later, C++98 and later, cc65 and sdcc. Freestanding: nothing but
   <stddef.h>, no allocation, no global state. A file pays only for the
   functions it calls: they are static inline (static __inline__ in GCC's and
   Clang's C89, static in other C89 compilers, which may then warn of those
   not called); inline under sdcc, which would emit every static function but
   emits no inline one and inlines every call (in its C89 mode, which has no
   inline, they are static and all emitted); static under cc65, which takes
   no inline and emits no static function that is not called. Under sdcc, a
   program that takes their addresses needs them out of line once: one of its
   files defines BYTETAB_FUNCTION as empty before the include, which makes
   them ordinary functions defined there.

   With BYTETAB_ASM defined before the include, bytetab_decode is declared,
   not defined: the program links the assembly version for its CPU from
   asm/ (z80.s, sm83.s, 6502.s, avr.S, m0.S), with the same contract. On the
   AVR it has bytetab_decode_P too, for tokens in flash (PROGMEM); there
   bytetab_decode reads tokens in RAM whatever BYTETAB_READ says. */
#ifndef BYTETAB_DECODE_H
#define BYTETAB_DECODE_H

#include <stddef.h>

#ifdef __cplusplus /* a C cast would warn in strict C++ builds */
#define BYTETAB_SIZE(x) static_cast<size_t>(x)
#else
#define BYTETAB_SIZE(x) ((size_t)(x))
#endif
#define BYTETAB_ERROR BYTETAB_SIZE(-1)

#ifndef BYTETAB_READ
#define BYTETAB_READ(p) (*(p))
#endif

#ifndef BYTETAB_FUNCTION
#if defined(__CC65__)
#define BYTETAB_FUNCTION static
#elif !defined(__cplusplus) && !(defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L)
#ifdef __GNUC__ /* C89 has no inline; GCC and Clang spell it so there */
#define BYTETAB_FUNCTION static __inline__
#else
#define BYTETAB_FUNCTION static
#endif
#elif defined(__SDCC)
#define BYTETAB_FUNCTION inline
#else
#define BYTETAB_FUNCTION static inline
#endif
#endif

#ifdef __CC65__ /* these keep cc65 from warning of a function not called */
struct bytetab_stream;
BYTETAB_FUNCTION size_t bytetab_decoded_size(const unsigned char *, size_t) __attribute__((unused));
#ifndef BYTETAB_ASM
BYTETAB_FUNCTION size_t bytetab_decode(const unsigned char *, size_t, unsigned char *, size_t) __attribute__((unused));
#endif
BYTETAB_FUNCTION int bytetab_decode_runs(const unsigned char *, size_t, void (*)(void *, unsigned char, unsigned),
                                         void *) __attribute__((unused));
BYTETAB_FUNCTION void bytetab_stream_init(struct bytetab_stream *, const unsigned char *, size_t)
    __attribute__((unused));
BYTETAB_FUNCTION size_t bytetab_stream_read(struct bytetab_stream *, unsigned char *, size_t) __attribute__((unused));
#endif

BYTETAB_FUNCTION size_t bytetab_decoded_size(const unsigned char *tokens, size_t count)
{
    size_t size = 0;
    for (; count; --count, ++tokens) {
        size_t n = 1;
        if (BYTETAB_READ(tokens) & 0x80) {
            if (!--count)
                return BYTETAB_ERROR;
            ++tokens;
            n += BYTETAB_READ(tokens);
        }
        if (n >= BYTETAB_ERROR - size) /* the sum would reach it */
            return BYTETAB_ERROR;
        size += n;
    }
    return size;
}

#ifdef BYTETAB_ASM /* the assembly version, from asm/ for the program's CPU */
/* In the calling convention it is written for, whatever the compiler's flags. */
#if defined(__SDCC_z80) || defined(__SDCC_sm83)
#define BYTETAB_ASMCALL(declarator) declarator __sdcccall(1)
#elif defined(__CC65__)
#define BYTETAB_ASMCALL(declarator) __fastcall__ declarator
#else
#define BYTETAB_ASMCALL(declarator) declarator
#endif
#ifdef __cplusplus
extern "C" {
#endif
size_t BYTETAB_ASMCALL(bytetab_decode(const unsigned char *tokens, size_t count, unsigned char *out, size_t capacity));
#ifdef __AVR__ /* tokens in flash, as avr-libc names what reads there */
size_t bytetab_decode_P(const unsigned char *tokens, size_t count, unsigned char *out, size_t capacity);
#endif
#ifdef __cplusplus
}
#endif
#else
BYTETAB_FUNCTION size_t bytetab_decode(const unsigned char *tokens, size_t count, unsigned char *out, size_t capacity)
{
    unsigned char *const start = out;
    for (; count; --count, ++tokens) {
        unsigned char value = BYTETAB_READ(tokens), more = 0; /* bytes after the first */
        if (value & 0x80) {
            if (!--count)
                return BYTETAB_ERROR;
            ++tokens;
            more = BYTETAB_READ(tokens);
            value &= 0x7F;
        }
        if (more >= capacity)
            return BYTETAB_ERROR;
        capacity -= more + 1u;
        do /* an 8-bit count, which 8-bit CPUs run fastest */
            *out++ = value;
        while (more--);
    }
    return BYTETAB_SIZE(out - start);
}
#endif

BYTETAB_FUNCTION int bytetab_decode_runs(const unsigned char *tokens, size_t count,
                                         void (*run)(void *context, unsigned char value, unsigned length),
                                         void *context)
{
    for (; count; --count, ++tokens) {
        unsigned char value = BYTETAB_READ(tokens);
        unsigned n = 1;
        if (value & 0x80) {
            if (!--count)
                return -1;
            ++tokens;
            n += BYTETAB_READ(tokens);
            value &= 0x7F;
        }
        run(context, value, n);
    }
    return 0;
}

struct bytetab_stream {
    const unsigned char *tokens; /* the next token */
    size_t count;                /* token bytes from there on */
    unsigned left;               /* bytes of the current run not yet read */
    unsigned value;              /* their value (not a char: no padding) */
};

BYTETAB_FUNCTION void bytetab_stream_init(struct bytetab_stream *stream, const unsigned char *tokens, size_t count)
{
    stream->tokens = tokens;
    stream->count = count;
    stream->left = 0;
    stream->value = 0;
}

BYTETAB_FUNCTION size_t bytetab_stream_read(struct bytetab_stream *stream, unsigned char *out, size_t n)
{
    const unsigned char *tokens = stream->tokens;
    size_t count = stream->count, done = 0;
    unsigned left = stream->left;
    unsigned char value = stream->value & 0xFFu;
    while (done < n) {
        if (!left) {
            if (!count)
                break;
            value = BYTETAB_READ(tokens);
            if (value & 0x80) {
                if (count == 1) { /* stays here: every later read fails too */
                    if (!done)
                        done = BYTETAB_ERROR;
                    break;
                }
                ++tokens;
                left = 1u + BYTETAB_READ(tokens);
                value &= 0x7F;
                --count;
            } else
                left = 1;
            ++tokens;
            --count;
        }
        out[done++] = value;
        --left;
    }
    stream->tokens = tokens;
    stream->count = count;
    stream->left = left;
    stream->value = value;
    return done;
}

#if defined(__cplusplus) && (__cplusplus >= 201703L || (defined(_MSVC_LANG) && _MSVC_LANG >= 201703L))
#include <array>
#include <cstddef>

namespace bytetab {

/* Not constexpr: reaching one at compile time is the compile error. At run
   time, decoded_size gives BYTETAB_ERROR for malformed tokens. */
inline std::size_t malformedtokens()
{
    return BYTETAB_ERROR;
}
inline void wrongsize() {}

/* Each token is one statement, and the bytes are written through a plain
   pointer: the compilers limit compile-time evaluation by its statements,
   calls and operations (and g++ each loop by its turns). A flag byte at the
   end takes i past N. */
template <std::size_t N>
constexpr std::size_t decoded_size(const unsigned char (&tokens)[N])
{
    std::size_t size = 0, i = 0;
    for (; i < N; ++i)
        size += (tokens[i] & 0x80) && ++i < N ? tokens[i] + 1u : 1u;
    return i > N ? malformedtokens() : size;
}

/* At run time, bytes past Size are dropped and missing ones left 0. */
template <std::size_t Size, std::size_t N>
constexpr std::array<unsigned char, Size> decode(const unsigned char (&tokens)[N])
{
    std::array<unsigned char, Size> out{};
    unsigned char *const to = out.data();
    std::size_t i = 0, at = 0, size = 0;
    for (; i < N; ++i) {
        unsigned value = tokens[i] & 0x7Fu, n = (tokens[i] & 0x80) && ++i < N ? tokens[i] + 1u : 1u;
        for (size += n; n-- && at < Size;)
            to[at++] = static_cast<unsigned char>(value);
    }
    if (i > N)
        malformedtokens();
    if (size != Size)
        wrongsize();
    return out;
}

} /* namespace bytetab */
#endif

#endif
