// SPDX-License-Identifier: MIT
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

// Hands the whole lines in the block to the stream and starts it anew.
// Copying items into a block and making one fwrite per block is several times
// faster than a formatted or a character-by-character write per item. A short
// write sets the stream's error indicator, which the caller tests; so do the
// other writes here, whose results are left to that test.
static void drainblock(writer &w)
{
    (void)std::fwrite(w.block, 1, static_cast<std::size_t>(w.line - w.block), w.out);
    w.line = w.block;
}

// n items of the token bytes from t on, at `at`, as outbyte places them.
static void fillitems(char *at, const unsigned char *t, unsigned n)
{
    for (unsigned k = 0; k < n; ++k)
        std::memcpy(at + std::ptrdiff_t{6} * k, items.text[t[k]], sizeof items.text[0]);
}

// The current line holds its twelve items: ends it, and drains the block
// when it is full.
static void nextline(writer &w)
{
    w.line[linesize - 2] = '\\';
    w.line[linesize - 1] = '\n';
    w.line += linesize;
    if (w.line == w.block + linesize * blocklines)
        drainblock(w);
}

// The current line from the twelve token bytes at t.
static void endline(writer &w, const unsigned char *t, [[maybe_unused]] bool fast)
{
#if BYTETAB_FAST
    if (fast)
        fastfillline(w.line, t);
    else
#endif
        fillitems(w.line, t, 12);
    nextline(w);
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
    w.tokens[w.charcnt] = byte;
    if (++w.charcnt == 12) {
        endline(w, w.tokens, false);
        w.charcnt = 0;
    }
}

void outtokens(writer &w, const unsigned char *t, unsigned n, bool fast)
{
    // One copy of a fixed size, whatever n is: a loop of n steps would be
    // mispredicted about once a run.
    std::memcpy(w.tokens + w.charcnt, t, 16);
    unsigned count = w.charcnt + n;
    for (; count >= 12; count -= 12) {
        endline(w, w.tokens, fast);
        std::memmove(w.tokens, w.tokens + 12, 16);
    }
    w.charcnt = static_cast<unsigned char>(count);
}

void outline(writer &w, const unsigned char *tokens, bool fast)
{
    endline(w, tokens, fast);
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
        unsigned char t[12];
        for (unsigned k = 0; k < 12; ++k)
            t[k] = pair[next ^ (k & 1)];
        char line[linesize];
        fillitems(line, t, 12);
        for (; left >= 12; left -= 12) {
            std::memcpy(w.line, line, linesize - 2);
            nextline(w);
        }
    }
    for (; left > 0; --left, next ^= 1)
        outbyte(w, pair[next]);
}

void endheader(writer &w)
{
    fillitems(w.line, w.tokens, w.charcnt);
    w.line += std::ptrdiff_t{6} * w.charcnt;
    drainblock(w);
    (void)std::fputs("  } \n", w.out);
}
