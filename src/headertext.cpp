#include "headertext.hpp"

#include <cstring>

// Items on the current line, 0 to 11 between calls.
static unsigned char charcnt;

// Every item's text, "0x%02X, " of its byte, padded to 8 characters so that
// one fixed-size copy places it.
struct itemtable {
    char text[256][8];
};

static constexpr itemtable makeitems()
{
    const char hex[] = "0123456789ABCDEF";
    itemtable t{};
    for (int b = 0; b < 256; ++b) {
        char *p = t.text[b];
        p[0] = '0';
        p[1] = 'x';
        p[2] = hex[b >> 4];
        p[3] = hex[b & 0xF];
        p[4] = ',';
        p[5] = ' ';
    }
    return t;
}

static constexpr itemtable items = makeitems();

// Formatted lines waiting for the stream: whole lines before `line`, and
// charcnt items of the current line from `line` on. Copying items into a
// block and making one fwrite per block is several times faster than a
// formatted or a character-by-character write per item. A full line is 12
// items of 6 characters, a backslash and a line end; the block is drained
// when it has no room for another whole line, so an item always fits.
constexpr std::size_t linesize = 12 * 6 + 2;
static char block[linesize * 512];
static char *line = block;

// Hands everything in the block to the stream and starts it anew. A short
// write sets the stream's error indicator, which the caller tests.
static void drainblock(std::FILE *out)
{
    std::fwrite(block, 1, static_cast<std::size_t>(line - block) + 6u * charcnt, out);
    line = block;
    charcnt = 0;
}

void beginheader(std::FILE *out, const char *name)
{
    line = block;
    charcnt = 0;
    std::fprintf(out, "#define %s { \\\n", name);
}

void outbyte(std::FILE *out, unsigned char byte)
{
    char *item = line + 6 * charcnt;
    std::memcpy(item, items.text[byte], sizeof items.text[byte]); // 8 bytes, 6 kept
    if (++charcnt == 12) {
        item[6] = '\\';
        item[7] = '\n';
        line += linesize;
        charcnt = 0;
        if (block + sizeof block - line < static_cast<std::ptrdiff_t>(linesize))
            drainblock(out);
    }
}

void endheader(std::FILE *out)
{
    drainblock(out);
    std::fputs("  } \n", out);
}
