#ifndef BYTETAB_HEADERTEXT_HPP
#define BYTETAB_HEADERTEXT_HPP

#include <cstddef>
#include <cstdio>

/* The header is one macro definition, twelve items a line:

     #define NAME { \
     0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, \
     0x0C, 0x0D,   }

   Call beginheader once, outbyte once per token byte, endheader once, all on
   the same writer. Items are gathered in the writer's block and handed to the
   stream whole; endheader hands over the rest. Write failures are left in the
   stream's error indicator for the caller to test with ferror (and fclose). */

// A full line: 12 items of 6 characters, a backslash and a line end.
constexpr std::size_t linesize = 12 * 6 + 2;

struct writer {
    std::FILE *out;
    char *line;            // the current line, in block
    unsigned char charcnt; // items on the current line, 0 to 11 between calls
    // Whole lines before `line`, and charcnt items of the current line from it
    // on. Drained when it has no room for another whole line, so that an item
    // always fits.
    char block[linesize * 512];
};

void beginheader(writer &w, std::FILE *out, const char *name);
void outbyte(writer &w, unsigned char byte);
void endheader(writer &w);

#endif
