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

// n items of the token bytes from t on, at `at`, as they stand on a line (the
// copies write 2 bytes past them).
static void fillitems(char *at, const unsigned char *t, std::size_t n)
{
    for (std::size_t k = 0; k < n; ++k)
        std::memcpy(at + 6 * k, items.text[t[k]], sizeof items.text[0]);
}

// `lines` whole lines from the token bytes at t, at `to`.
static void filllines(char *to, const unsigned char *t, std::size_t lines, [[maybe_unused]] int level)
{
#if BYTETAB_FAST
    if (level >= avx512)
        return widestlines(to, t, lines);
    if (level >= avx2)
        return widelines(to, t, lines);
    if (level >= ssse3)
        return fastlines(to, t, lines);
#endif
    for (; lines > 0; --lines, to += linesize, t += 12) {
        fillitems(to, t, 12);
        to[linesize - 2] = '\\';
        to[linesize - 1] = '\n';
    }
}

void beginheader(writer &w, std::FILE *out, const char *name)
{
    w.out = out;
    w.level = portable;
    w.next = w.tokens;
    (void)std::fprintf(out, "#define %s { \\\n", name);
}

// Copying items into a block and making one fwrite per block is several times
// faster than a formatted or a character-by-character write per item. A short
// write sets the stream's error indicator, which the caller tests; so do the
// other writes here, whose results are left to that test.
void blockdone(writer &w)
{
    filllines(w.text, w.tokens, blocklines, w.level);
    (void)std::fwrite(w.text, 1, linesize * blocklines, w.out);
    const unsigned char *end = w.tokens + 12 * blocklines;
    const std::size_t rest = static_cast<std::size_t>(w.next - end);
    std::memmove(w.tokens, end, rest);
    w.next = w.tokens + rest;
}

void endheader(writer &w)
{
    const std::size_t count = static_cast<std::size_t>(w.next - w.tokens), lines = count / 12;
    // The items on the last line, which is not whole: 0 to 11.
    const std::size_t charcnt = count % 12;
    filllines(w.text, w.tokens, lines, w.level);
    fillitems(w.text + linesize * lines, w.tokens + 12 * lines, charcnt);
    (void)std::fwrite(w.text, 1, linesize * lines + 6 * charcnt, w.out);
    (void)std::fputs("  } \n", w.out);
}
