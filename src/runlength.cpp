// SPDX-License-Identifier: MIT
#include "runlength.hpp"

#include <algorithm>
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
// counts as 0): the rest of a run of v; adds the run's bytes above 0x7F to
// `high`, so that the count needs no pass of its own. A word at a time while
// the whole word is in the run: XOR with v leaves it 0, and for v = 0, where
// 0xFF counts too, so does XOR with itself shifted by a bit, each byte's
// lowest bit masked off (a byte all of whose bits are equal). A word's top
// bits, moved to the bottom of each byte, are summed by a multiplication into
// its top byte.
static std::size_t scanrun(const unsigned char *p, std::size_t n, unsigned char v, [[maybe_unused]] int level,
                           std::uint64_t &high)
{
#if BYTETAB_FAST
    if (level >= sse2) {
        const std::size_t length = level >= avx2 ? widescanrun(p, n, v, high) : fastscanrun(p, n, v, high);
        // A run of v other than 0 holds only v; one of 0 had its 0xFF counted.
        high += (v >> 7) * std::uint64_t{length};
        return length;
    }
#endif
    std::size_t i = 0;
    for (; n - i >= 8; i += 8) {
        std::uint64_t x;
        std::memcpy(&x, p + i, 8);
        if ((v ? x ^ ones * v : (x ^ x << 1) & ones * 0xFE) != 0)
            break;
        high += (x >> 7 & ones) * ones >> 56;
    }
    for (; i < n && value(p[i]) == v; ++i)
        high += p[i] >> 7;
    return i;
}

// Whether the 13 values from p on hold no two equal neighbours: then the first
// twelve are runs of one each, and their tokens go to tokens[0] to [11].
static bool singles(const unsigned char *p, unsigned char *tokens, [[maybe_unused]] int level)
{
#if BYTETAB_FAST
    if (level >= sse2)
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
// count, then the rest. A run of up to 6 pieces (1,792 bytes) goes to the
// writer as one gathering of its tokens, so that no loop of a length that is
// hard to predict costs a misprediction a run.
static void outrun(writer &w, unsigned char v, std::uint64_t length, bool fast)
{
    if (length == 1) {
        outbyte(w, v & 0x7F);
        return;
    }
    std::uint64_t pieces = (length - 1) / 256;
    const unsigned rest = static_cast<unsigned>(length - pieces * 256); // 1 to 256
    if (pieces > 6) {
        outpairs(w, v | 0x80, 0xFF, pieces);
        pieces = 0;
    }
    unsigned char t[16];
    for (unsigned k = 0; k < 16; k += 2) {
        t[k] = v | 0x80;
        t[k + 1] = 0xFF;
    }
    const unsigned at = static_cast<unsigned>(2 * pieces);
    t[at] = rest == 1 ? v & 0x7F : v | 0x80;
    t[at + 1] = static_cast<unsigned char>(rest - 1);
    outtokens(w, t, at + (rest == 1 ? 1 : 2), fast);
}

// The run being collected, which may go on in the next block; length 0 when
// there is none.
struct run {
    unsigned char value;
    std::uint64_t length;
};

// How many of the 12 bytes from p on are above 0x7F.
static unsigned highin12(const unsigned char *p)
{
    std::uint64_t x;
    std::uint32_t y;
    std::memcpy(&x, p, 8);
    std::memcpy(&y, p + 8, 4);
    return static_cast<unsigned>(((x >> 7 & ones) * ones >> 56) + ((y >> 7 & 0x01010101U) * 0x01010101U >> 24));
}

// Encodes the n > 0 bytes from p on, after the run r, and adds those above
// 0x7F to `high`; the run that reaches the block's end is left in r. Each
// byte is looked at once: by the scan of its run, as the first of a run, or
// in a line of singles.
static void encodeblock(writer &w, const unsigned char *p, std::size_t n, run &r, int level, std::uint64_t &high)
{
    std::size_t i = 0;
    if (r.length > 0) {
        i = scanrun(p, n, r.value, level, high);
        r.length += i;
        if (i == n)
            return;
        outrun(w, r.value, r.length, level >= ssse3);
    }
    unsigned char tokens[16];
    for (;;) {
        // A run starts at i. At the start of a line, twelve runs of one are
        // formatted as one whole line: random data is mostly that. (The
        // check reads 16 bytes.)
        if (w.charcnt == 0 && n - i >= 16 && singles(p + i, tokens, level)) {
            outline(w, tokens, level >= ssse3);
            high += highin12(p + i);
            i += 12;
            continue;
        }
        const unsigned char v = value(p[i]);
        high += p[i] >> 7;
        // A run of one is told without a scan: in data that is not all runs,
        // most are.
        const std::size_t length =
            i + 1 < n && value(p[i + 1]) != v ? 1 : 1 + scanrun(p + i + 1, n - i - 1, v, level, high);
        i += length;
        if (i == n) {
            r = {v, length};
            return;
        }
        outrun(w, v, length, level >= ssse3);
    }
}

int vectorlevel()
{
#if BYTETAB_FAST
    return fastlevel();
#else
    return portable;
#endif
}

std::uint64_t encoderuns(std::FILE *in, writer &w, const readmode &mode)
{
    const int level = std::min(mode.level, vectorlevel());
    // Not cleared: only what fread fills is read.
    const std::unique_ptr<unsigned char[]> block(new unsigned char[mode.block]);
    std::uint64_t high = 0;
    run r = {0, 0};
    // fread comes back short only at the end of the input or after an error.
    std::size_t n;
    do {
        n = std::fread(block.get(), 1, mode.block, in);
        if (n > 0)
            encodeblock(w, block.get(), n, r, level, high);
    } while (n == mode.block);
    if (r.length > 0)
        outrun(w, r.value, r.length, level >= ssse3);
    return high;
}
