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

   Call beginheader once, outbyte once per token byte (or outtokens for a few
   of them, outline for twelve that make a whole line, outpairs for a pair
   repeated), endheader once, all on the same writer. The current line's token
   bytes are gathered and formatted when the line is whole; whole lines are
   gathered in the writer's block and handed to the stream a block at a time;
   endheader hands over the rest. Write failures are left in the stream's
   error indicator for the caller to test with ferror (and fclose). */

// A full line: 12 items of 6 characters, a backslash and a line end.
constexpr std::size_t linesize = 12 * 6 + 2;
constexpr std::size_t blocklines = 4096;

struct writer {
    std::FILE *out;
    char *line;            // where the current line goes, in block
    unsigned char charcnt; // items on the current line, 0 to 11 between calls
    // The current line's token bytes, charcnt of them, and room for
    // outtokens to copy 16 bytes after them and a vector load to read them.
    unsigned char tokens[32];
    // Whole lines before `line`, handed to the stream when it holds
    // blocklines of them. The last line is followed by room for a vector
    // store that runs past its end.
    char block[linesize * blocklines + 16];
};

void beginheader(writer &w, std::FILE *out, const char *name);
void outbyte(writer &w, unsigned char byte);
// The n <= 16 token bytes from t on (16 are read), as n outbyte calls write
// them. `fast` lets it use the processor's vector instructions.
void outtokens(writer &w, const unsigned char *t, unsigned n, bool fast);
// Twelve token bytes as one whole line, as twelve outbyte calls would write
// them; charcnt must be 0.
void outline(writer &w, const unsigned char *tokens, bool fast);
// `count` pairs of token bytes (a, b), as 2 * count outbyte calls write them.
void outpairs(writer &w, unsigned char a, unsigned char b, std::uint64_t count);
void endheader(writer &w);

#endif
