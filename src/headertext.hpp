#ifndef BYTETAB_HEADERTEXT_HPP
#define BYTETAB_HEADERTEXT_HPP

#include <cstddef>
#include <cstdint>
#include <cstdio>

/* The header is one macro definition, twelve items a line:

     #define NAME { \
     0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, \
     0x0C, 0x0D,   }

   Call beginheader once, outbyte once per token byte (or outline for twelve of
   them that make a whole line, outpairs for a pair repeated), endheader once, all on the same writer. Lines
   are gathered in the writer's block and handed to the stream a block at a
   time; endheader hands over the rest. Write failures are left in the
   stream's error indicator for the caller to test with ferror (and fclose). */

// A full line: 12 items of 6 characters, a backslash and a line end.
constexpr std::size_t linesize = 12 * 6 + 2;
constexpr std::size_t blocklines = 4096;

struct writer {
    std::FILE *out;
    char *line;            // the current line, in block
    unsigned char charcnt; // items on the current line, 0 to 11 between calls
    // Whole lines before `line`, and charcnt items of the current line from it
    // on; handed to the stream when it holds blocklines whole lines. The last
    // line is followed by room for a vector store that runs past its end.
    char block[linesize * blocklines + 16];
};

void beginheader(writer &w, std::FILE *out, const char *name);
void outbyte(writer &w, unsigned char byte);
// Twelve token bytes as one whole line, as twelve outbyte calls would write
// them; charcnt must be 0. `fast` lets it use the processor's vector
// instructions.
void outline(writer &w, const unsigned char *tokens, bool fast);
// `count` pairs of token bytes (a, b), as 2 * count outbyte calls write them.
void outpairs(writer &w, unsigned char a, unsigned char b, std::uint64_t count);
void endheader(writer &w);

#endif
