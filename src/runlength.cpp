#include "runlength.hpp"

#include <cstring>
#include <memory>

#include "fastpath.hpp"

// 0x0101010101010101: a byte value times ones fills a word with it.
constexpr std::uint64_t ones = ~std::uint64_t{0} / 0xFF;

// A byte as the encoder compares it: 0xFF is taken as 0.
static inline unsigned char value(unsigned char byte)
{
    return byte == 0xFF ? 0 : byte;
}

// How many of the n bytes from p on have the value v (v is never 0xFF, which
// counts as 0): the rest of a run of v. A word at a time while the whole word
// is in the run: XOR with v leaves it 0, and for v = 0, where 0xFF counts too,
// so does XOR with itself shifted by a bit, each byte's lowest bit masked off
// (a byte all of whose bits are equal).
static std::size_t scanrun(const unsigned char *p, std::size_t n, unsigned char v, [[maybe_unused]] int level)
{
#if BYTETAB_FAST
    if (level > 0)
        return fastscanrun(p, n, v);
#endif
    std::size_t i = 0;
    for (; n - i >= 8; i += 8) {
        std::uint64_t x;
        std::memcpy(&x, p + i, 8);
        if ((v ? x ^ ones * v : (x ^ x << 1) & ones * 0xFE) != 0)
            break;
    }
    while (i < n && value(p[i]) == v)
        ++i;
    return i;
}

// Whether the 13 values from p on hold no two equal neighbours: then the first
// twelve are runs of one each, and their tokens go to tokens[0] to [11].
static bool singles(const unsigned char *p, unsigned char *tokens, [[maybe_unused]] int level)
{
#if BYTETAB_FAST
    if (level > 0)
        return fastsingles(p, tokens);
#endif
    for (int k = 0; k < 12; ++k) {
        if (value(p[k]) == value(p[k + 1]))
            return false;
        tokens[k] = value(p[k]) & 0x7F;
    }
    return true;
}

// The tokens of a run: a single value with bit 7 clear; a longer run cut from
// its front into pieces of 256, each the value with bit 7 set and the repeat
// count, then the rest.
static void outrun(writer &w, unsigned char v, std::uint64_t length)
{
    for (; length > 256; length -= 256) {
        outbyte(w, v | 0x80);
        outbyte(w, 0xFF);
    }
    if (length == 1) {
        outbyte(w, v & 0x7F);
    } else {
        outbyte(w, v | 0x80);
        outbyte(w, static_cast<unsigned char>(length - 1));
    }
}

// The run being collected, which may go on in the next block; length 0 when
// there is none.
struct run {
    unsigned char value;
    std::uint64_t length;
};

// Encodes the n > 0 bytes from p on, after the run r; the run that reaches
// the block's end is left in r.
static void encodeblock(writer &w, const unsigned char *p, std::size_t n, run &r, int level)
{
    std::size_t i = 0;
    if (r.length > 0) {
        i = scanrun(p, n, r.value, level);
        r.length += i;
        if (i == n)
            return;
        outrun(w, r.value, r.length);
    }
    unsigned char tokens[16];
    for (;;) {
        // A run starts at i. At the start of a line, twelve runs of one are
        // formatted as one whole line: random data is mostly that. (The
        // check reads 16 bytes.)
        if (w.charcnt == 0 && n - i >= 16 && singles(p + i, tokens, level)) {
            outline(w, tokens, level > 1);
            i += 12;
            continue;
        }
        const unsigned char v = value(p[i]);
        // A run of one is told without a scan: in data that is not all runs,
        // most are.
        const std::size_t length = i + 1 < n && value(p[i + 1]) != v ? 1 : 1 + scanrun(p + i + 1, n - i - 1, v, level);
        i += length;
        if (i == n) {
            r = {v, length};
            return;
        }
        outrun(w, v, length);
    }
}

// How many of the n bytes from p on are above 0x7F: their top bits, a word at
// a time, moved to the bottom of each byte and summed by a multiplication
// into the top byte.
static std::uint64_t counthigh(const unsigned char *p, std::size_t n, [[maybe_unused]] int level)
{
#if BYTETAB_FAST
    if (level > 0)
        return fastcounthigh(p, n);
#endif
    std::uint64_t high = 0;
    std::size_t i = 0;
    for (; n - i >= 8; i += 8) {
        std::uint64_t x;
        std::memcpy(&x, p + i, 8);
        high += (x >> 7 & ones) * ones >> 56;
    }
    for (; i < n; ++i)
        high += p[i] >> 7;
    return high;
}

std::uint64_t encoderuns(std::FILE *in, writer &w, const readmode &mode)
{
#if BYTETAB_FAST
    const int level = mode.portable ? 0 : fastlevel();
#else
    const int level = 0;
#endif
    // Not cleared: only what fread fills is read.
    const std::unique_ptr<unsigned char[]> block(new unsigned char[mode.block]);
    std::uint64_t high = 0;
    run r = {0, 0};
    // fread comes back short only at the end of the input or after an error.
    std::size_t n;
    do {
        n = std::fread(block.get(), 1, mode.block, in);
        if (n > 0)
            encodeblock(w, block.get(), n, r, level);
        high += counthigh(block.get(), n, level);
    } while (n == mode.block);
    if (r.length > 0)
        outrun(w, r.value, r.length);
    return high;
}
