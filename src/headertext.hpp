// SPDX-License-Identifier: MIT
#ifndef BYTETAB_HEADERTEXT_HPP
#define BYTETAB_HEADERTEXT_HPP

#include <cstddef>
#include <cstdint>
#include <cstdio>

/* The header is one macro definition, twelve items a line:

     #define NAME { \
     0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, \
     0x0C, 0x0D,   }

   Call beginheader once, hand over every token byte in order, then call
   endheader once, all on the same writer. The token bytes are gathered in the
   writer; when they fill a block of lines, the lines are formatted at once
   and handed to the stream in one write (blockdone); endheader formats and
   hands over the rest. A token byte goes in with outbyte, or is stored at
   `next`, which is then advanced with advance: the encoder's fast paths store
   several at a time. Write failures are left in the stream's error indicator
   for the caller to test with ferror (and fclose). */

// The vector instructions the encoder and the writer may use: none (the
// portable code, which is the others' reference), SSE2, SSSE3 as well, AVX2 as
// well, AVX-512 (F, BW, VL, VBMI) as well. Each level gives the same output.
constexpr int portable = 0, sse2 = 1, ssse3 = 2, avx2 = 3, avx512 = 4;

// A full line: 12 items of 6 characters, a backslash and a line end.
constexpr std::size_t linesize = 12 * 6 + 2;
constexpr std::size_t blocklines = 4096;
// How many token bytes may be stored from `next` on (and it advanced by) at
// once, while it is below the block's end; advance then hands the block over.
// The encoder's fast paths store a span of 8 KiB of input's tokens at once.
constexpr std::size_t tokenroom = 8192 + 256;

struct writer {
    std::FILE *out;
    int level;           // the vector instructions the lines are formatted with
    unsigned char *next; // where the next token byte goes, in tokens
    // A block's lines of token bytes, room for the stores past the last one
    // that tokenroom allows, and for a vector load of the last line.
    unsigned char tokens[12 * blocklines + tokenroom + 16];
    // The block's lines of text, and room for a vector store of 32 bytes
    // past the last one.
    char text[linesize * blocklines + 32];
};

void beginheader(writer &w, std::FILE *out, const char *name);
// The tokens fill a block of lines: formats the lines, hands them to the
// stream and keeps the token bytes past them.
void blockdone(writer &w);
// Where the next token byte goes, after token bytes were stored up to `next`
// (no more than tokenroom from w.next on): `next` while it is below the
// block's end, or, the block handed over, where the tokens past it now end.
// The encoder's fast paths keep `next` in a register and store w.next once.
inline unsigned char *advanced(writer &w, unsigned char *next)
{
    if (next < w.tokens + 12 * blocklines)
        return next;
    w.next = next;
    blockdone(w);
    return w.next;
}
// After n <= tokenroom token bytes were stored from next on.
inline void advance(writer &w, std::size_t n)
{
    w.next = advanced(w, w.next + n);
}
inline void outbyte(writer &w, unsigned char byte)
{
    *w.next = byte;
    advance(w, 1);
}
void endheader(writer &w);

#endif
