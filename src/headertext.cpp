#include "headertext.hpp"

#include <cstring>

#include "fastpath.hpp"

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

// Hands everything in the block to the stream and starts it anew. Copying
// items into a block and making one fwrite per block is several times faster
// than a formatted or a character-by-character write per item. A short write
// sets the stream's error indicator, which the caller tests; so do the other
// writes here, whose results are left to that test.
static void drainblock(writer &w)
{
    (void)std::fwrite(w.block, 1, static_cast<std::size_t>(w.line - w.block) + std::size_t{6} * w.charcnt, w.out);
    w.line = w.block;
    w.charcnt = 0;
}

// The current line is complete: ends it, and drains the block when it is full.
static void endline(writer &w)
{
    w.line[linesize - 2] = '\\';
    w.line[linesize - 1] = '\n';
    w.line += linesize;
    w.charcnt = 0;
    if (w.line == w.block + linesize * blocklines)
        drainblock(w);
}

void beginheader(writer &w, std::FILE *out, const char *name)
{
    w.out = out;
    w.line = w.block;
    w.charcnt = 0;
    (void)std::fprintf(out, "#define %s { \\\n", name);
}

void outbyte(writer &w, unsigned char byte)
{
    // 8 bytes, 6 kept: the two after the twelfth item are the line's end.
    std::memcpy(w.line + std::ptrdiff_t{6} * w.charcnt, items.text[byte], sizeof items.text[byte]);
    if (++w.charcnt == 12)
        endline(w);
}

// Twelve items, as twelve outbyte calls place them.
static void fillline(char *line, const unsigned char *tokens)
{
    for (int k = 0; k < 12; ++k)
        std::memcpy(line + std::ptrdiff_t{6} * k, items.text[tokens[k]], sizeof items.text[0]);
}

void outline(writer &w, const unsigned char *tokens, [[maybe_unused]] bool fast)
{
#if BYTETAB_FAST
    if (fast)
        fastfillline(w.line, tokens);
    else
#endif
        fillline(w.line, tokens);
    endline(w);
}

void outpairs(writer &w, unsigned char a, unsigned char b, std::uint64_t count)
{
    const unsigned char pair[2] = {a, b};
    std::uint64_t left = 2 * count; // items still to write
    unsigned next = 0;              // which of the pair comes next
    for (; left > 0 && w.charcnt != 0; --left, next ^= 1)
        outbyte(w, pair[next]);
    // From the start of a line on, the items alternate with an even period:
    // every whole line is the same text, formatted once and then copied.
    if (left >= 12) {
        char line[linesize]; // the items; endline puts in the line's end
        for (unsigned k = 0; k < 12; ++k)
            std::memcpy(line + std::ptrdiff_t{6} * k, items.text[pair[next ^ (k & 1)]], sizeof items.text[0]);
        for (; left >= 12; left -= 12) {
            std::memcpy(w.line, line, linesize - 2);
            endline(w);
        }
    }
    for (; left > 0; --left, next ^= 1)
        outbyte(w, pair[next]);
}

void endheader(writer &w)
{
    drainblock(w);
    (void)std::fputs("  } \n", w.out);
}
