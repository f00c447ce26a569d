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

// The tokens of a run: a single value with bit 7 clear; a longer run cut from
// its front into pieces of 256, each the value with bit 7 set and the repeat
// count, then the rest. Runs of zeros can have millions of pieces: they are
// stored eight at a time.
static void outpieces(writer &w, unsigned char v, std::uint64_t &length)
{
    unsigned char pieces[16];
    for (unsigned k = 0; k < 16; k += 2) {
        pieces[k] = v | 0x80;
        pieces[k + 1] = 0xFF;
    }
    for (; length > std::uint64_t{8} * 256; length -= std::uint64_t{8} * 256) {
        std::memcpy(w.next, pieces, sizeof pieces);
        advance(w, sizeof pieces);
    }
    for (; length > 256; length -= 256) {
        outbyte(w, v | 0x80);
        outbyte(w, 0xFF);
    }
}

static inline void outrun(writer &w, unsigned char v, std::uint64_t length)
{
    if (length > 256)
        outpieces(w, v, length);
    if (length == 1) {
        outbyte(w, v & 0x7F);
    } else {
        outbyte(w, v | 0x80);
        outbyte(w, static_cast<unsigned char>(length - 1));
    }
}

// Encodes the n > 0 bytes from p on, after the run r, and adds those above
// 0x7F to `high`; the run that reaches the block's end is left in r. Each
// byte is looked at once: by the scan of its run, or as the first of a run.
static void encodeblock(writer &w, const unsigned char *p, std::size_t n, run &r, int level, std::uint64_t &high)
{
    std::size_t i = 0;
    if (r.length > 0) {
        i = scanrun(p, n, r.value, level, high);
        r.length += i;
        if (i == n)
            return;
        outrun(w, r.value, r.length);
        r.length = 0;
    }
#if BYTETAB_FAST
    // The vector loop leaves the last few bytes of the block to the code below.
    if (level >= avx512)
        i += widestencode(p + i, n - i, w, r, high);
    else if (level >= avx2)
        i += wideencode(p + i, n - i, w, r, high);
    else if (level >= sse2)
        i += fastencode(p + i, n - i, w, r, high);
    if (r.length > 0)
        return;
#endif
    for (;;) {
        // A run starts at i.
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
        outrun(w, v, length);
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
    w.level = level;
    // Not cleared: only what fread fills is read. Aligned to 64 bytes: the
    // kernel copies into it a few percent faster than where malloc puts it.
    const std::unique_ptr<unsigned char[]> storage(new unsigned char[mode.block + 63]);
    unsigned char *const block = storage.get() + (0 - reinterpret_cast<std::uintptr_t>(storage.get()) % 64) % 64;
    std::uint64_t high = 0;
    run r = {0, 0};
    // fread comes back short only at the end of the input or after an error.
    std::size_t n;
    do {
        n = std::fread(block, 1, mode.block, in);
        if (n > 0)
            encodeblock(w, block, n, r, level, high);
    } while (n == mode.block);
    if (r.length > 0)
        outrun(w, r.value, r.length);
    return high;
}
