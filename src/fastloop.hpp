// SPDX-License-Identifier: MIT
#ifndef BYTETAB_FASTLOOP_HPP
#define BYTETAB_FASTLOOP_HPP

/* The encoder's loop over the runs of a block, written once for the vector
   instruction sets: fastruns.cpp (SSE2), fastwide.cpp (AVX2) and fast512.cpp
   (AVX-512) include it after they define FASTTARGET, the instruction set as
   GCC's target attribute names it, FASTSCANRUN, the scan of a run of
   fastpath.hpp that they use (fastscanrun or widescanrun), and these:

     sames(p)         bit k set where the values p[k] and p[k + 1] are equal,
                      0xFF taken as 0, for 32 k (reads 33 bytes)
     highs(p)         bit k set where p[k] is above 0x7F, for 32 k
     storetokens(t,p) t[k] = the token of p[k] as a run of one, for 32 k
     storepieces(t,v) 16 pieces of 256 of the value v: (v | 0x80, 0xFF) 16 times
     differs(p)       whether a byte of the 128 from p on differs from p[-1]
     starts(p)        bit k set where p[k] starts a run: its value differs
                      from p[k - 1]'s, for 64 k

   Where a run ends can't be predicted, so the loop does not branch on it:
   the ends come from masks of equal neighbours, a run's tokens are stored
   whole and the token pointer advanced by their count, and the branches tell
   apart stretches of data (runs of one, short runs, long runs), which a
   processor predicts. */

#include <algorithm>

#include "fastpath.hpp"

#if BYTETAB_FAST

// A span's tokens are stored before the block's end is looked at: 32 bytes for
// the first run, one a byte for the others, and 32 written past the last.
static_assert(tokenroom >= 128 * 64 + 4 * 32, "a span's tokens fit past the writer's block");

// The longest run putshort takes: 16 pieces of 256, one store.
constexpr std::uint64_t shortrun = 4096;

// runlength.cpp's outrun for a run of 1 to shortrun values v, stored from
// `next` on (32 bytes are written); returns where the next token goes. Up to
// 15 pieces of 256 take one store and the rest one more, whatever the length,
// so that no loop runs for a count the processor can't predict.
__attribute__((target(FASTTARGET))) static inline unsigned char *putshort(unsigned char *next, unsigned char v,
                                                                          std::uint64_t length)
{
    const unsigned pieces = static_cast<unsigned>((length - 1) >> 8);
    const unsigned rest = static_cast<unsigned>(length) - (pieces << 8); // 1 to 256
    storepieces(next, v);
    next += std::size_t{2} * pieces;
    // The rest: a single value (v with bit 7 clear), or v with bit 7 set and
    // its count; chosen without a branch.
    const unsigned single = rest == 1 ? 1 : 0;
    next[0] = static_cast<unsigned char>((v | 0x80) & ~(single << 7));
    next[1] = static_cast<unsigned char>(rest - 1);
    return next + 2 - single;
}

// A longer run, 16 pieces at a time, handing over each block it fills. Out
// of line: the loops' registers need not be kept across a call that is rare.
__attribute__((target(FASTTARGET), noinline, cold)) static unsigned char *putlong(writer &w, unsigned char *next,
                                                                                  unsigned char v, std::uint64_t length)
{
    for (; length > shortrun; length -= shortrun) {
        storepieces(next, v);
        next = advanced(w, next + 32);
    }
    return putshort(next, v, length);
}

// runlength.cpp's outrun for a run of any length, stored from `next` on, which
// may be up to tokenroom - 32 bytes past the block's end.
__attribute__((target(FASTTARGET))) static inline unsigned char *putrun(writer &w, unsigned char *next, unsigned char v,
                                                                        std::uint64_t length)
{
    return __builtin_expect(length > shortrun, 0) ? putlong(w, next, v, length) : putshort(next, v, length);
}

// The bits of m below bit n, n from 0 to 32.
__attribute__((target(FASTTARGET))) static inline std::uint32_t below(std::uint32_t m, unsigned n)
{
    return static_cast<std::uint32_t>(m & ((std::uint64_t{1} << n) - 1));
}

// The value of a byte: 0xFF taken as 0.
__attribute__((target(FASTTARGET))) static inline unsigned char valueof(unsigned char byte)
{
    // Arithmetic: a compare may be compiled into a branch, which the
    // processor can't predict. (b + 1) >> 8 is 1 for 0xFF alone.
    const unsigned b = byte;
    return static_cast<unsigned char>(b & (((b + 1) >> 8) - 1));
}

// The lowest set bit of the 128 bits (hi, lo), without a branch on which
// half holds it, which would be taken at random; 127 when none is set.
__attribute__((target(FASTTARGET))) static inline unsigned firstbit(std::uint64_t lo, std::uint64_t hi)
{
    const std::uint64_t inlo = 0 - std::uint64_t{lo != 0};
    const std::uint64_t half = hi ^ ((lo ^ hi) & inlo);
    return static_cast<unsigned>(~inlo & 64) + static_cast<unsigned>(__builtin_ctzll(half | std::uint64_t{1} << 63));
}

// How many of the k bytes from p on are above 0x7F, k from 0 to 128.
__attribute__((target(FASTTARGET))) static inline unsigned highsbelow(const unsigned char *p, unsigned k)
{
    unsigned count = 0;
    for (unsigned q = 0; q < 128; q += 32)
        count += static_cast<unsigned>(__builtin_popcount(below(highs(p + q), std::min(std::max(k, q) - q, 32U))));
    return count;
}

// Runs longer than 32, one after another: the run from p[start] goes on to
// p[c - 1] at least. Stores their tokens from `next` on and adds their bytes
// above 0x7F to `count`, and returns where a run starts in bytes that hold
// many ends, for encodeloop's turns; or, where a run reaches p + n, puts it in
// r and returns n.
//
// The bytes are looked at in spans of up to 64 windows of 128, which start on
// a 64-byte boundary (their loads are faster there), in three passes, so that
// no branch depends on where a run ends. The first tells the windows whose
// bytes all equal the byte before them, which hold no end, from the others.
// The second makes the others' masks of ends (none where 0x00 and 0xFF meet
// in a run of 0) and lists those of 64 bytes that hold one; made apart, they
// are ready when the third walks them, which only finds each end and stores
// the run before it. Where more than half the windows hold an end, the runs
// are short: encodeloop takes them after the first.
//
// The bytes above 0x7F are counted in the windows that hold an end; a window
// between them, all of whose bytes equal the byte before it, holds 128 of
// them or none, as that byte is above 0x7F or not.
__attribute__((target(FASTTARGET))) static inline std::size_t longruns(const unsigned char *p, std::size_t n,
                                                                       std::size_t start, std::size_t c, writer &w,
                                                                       unsigned char *&next, std::uint64_t &count,
                                                                       run &r)
{
    unsigned char v = valueof(p[start]);
    for (;;) {
        std::size_t windows = std::min<std::size_t>((n - c - 1) / 128, 64);
        if (windows == 0) {
            // Near the block's end: the scan stops at it. (Its count is
            // kept apart so that `count` stays in a register.)
            std::uint64_t more = 0;
            const std::size_t length = FASTSCANRUN(p + c, n - c, v, more);
            count += more + (v >> 7) * std::uint64_t{length};
            const std::size_t end = c + length;
            if (end == n) {
                r = {v, end - start};
                return n;
            }
            next = advanced(w, putrun(w, next, v, end - start));
            return end;
        }
        const std::size_t skew = (0 - reinterpret_cast<std::uintptr_t>(p + c)) & 63;
        if (skew != 0) {
            // The bytes before the boundary: an end there ends the run (and
            // encodeloop takes the runs after it, as they may be short).
            const unsigned k = static_cast<unsigned>(__builtin_ctzll(starts(p + c) | std::uint64_t{1} << skew));
            count += highsbelow(p + c, k);
            if (k < skew) {
                next = advanced(w, putrun(w, next, v, c + k - start));
                return c + k;
            }
            c += skew;
            windows = std::min<std::size_t>((n - c - 1) / 128, 64);
            if (windows == 0)
                continue;
        }
        std::uint64_t ends = 0;
        for (std::size_t i = 0; i < windows; ++i)
            ends |= std::uint64_t{differs(p + c + 128 * i)} << i;
        const unsigned char *const base = p + c;
        std::size_t after = 0; // the window after the last one that holds an end
        if (__builtin_popcountll(ends) > 32) {
            // Many ends: the first one ends the run; encodeloop takes the
            // runs from there, and counts the bytes from there.
            for (; ends != 0; ends &= ends - 1) {
                const std::size_t i = static_cast<std::size_t>(__builtin_ctzll(ends));
                const unsigned char *const q = base + 128 * i;
                count += static_cast<std::uint64_t>(q[-1] >> 7) * (i - after) << 7;
                after = i + 1;
                const std::uint64_t lo = starts(q), hi = starts(q + 64);
                if ((lo | hi) != 0) {
                    const unsigned k = firstbit(lo, hi);
                    count += highsbelow(q, k);
                    next = advanced(w, putrun(w, next, v, static_cast<std::size_t>(q - p) + k - start));
                    return static_cast<std::size_t>(q - p) + k;
                }
                count += highsbelow(q, 128);
            }
        }
        // The masks of 64 bytes that hold an end, and where they are: at most
        // 32 windows hold one here.
        std::uint64_t masks[64];
        std::uint32_t chunks[64];
        std::size_t listed = 0;
        for (; ends != 0; ends &= ends - 1) {
            const std::size_t i = static_cast<std::size_t>(__builtin_ctzll(ends));
            const unsigned char *const q = base + 128 * i;
            count += (static_cast<std::uint64_t>(q[-1] >> 7) * (i - after) << 7) + highsbelow(q, 128);
            after = i + 1;
            const std::uint64_t lo = starts(q), hi = starts(q + 64);
            masks[listed] = lo;
            chunks[listed] = static_cast<std::uint32_t>(2 * i);
            listed += lo != 0;
            masks[listed] = hi;
            chunks[listed] = static_cast<std::uint32_t>(2 * i + 1);
            listed += hi != 0;
        }
        count += static_cast<std::uint64_t>(base[128 * windows - 1] >> 7) * (windows - after) << 7;
        // The runs that end in the span. Between two calls of advanced they
        // store at most 32 bytes for the first and one a byte of the span
        // (a run of one byte: one token; of 2 to 256: two) for the others.
        const unsigned char *from = p + start;
        for (std::size_t j = 0; j < listed; ++j) {
            const unsigned char *const q = base + 64 * std::size_t{chunks[j]};
            std::uint64_t mask = masks[j];
            do {
                const unsigned char *const end = q + __builtin_ctzll(mask);
                next = putrun(w, next, v, static_cast<std::size_t>(end - from));
                from = end;
                v = valueof(*end);
                mask &= mask - 1;
            } while (__builtin_expect(mask != 0, 0));
        }
        start = static_cast<std::size_t>(from - p);
        next = advanced(w, next);
        c += 128 * windows;
    }
}

// fastpath.hpp's fastencode, wideencode and widestencode. Each turn starts
// at a run: the mask of its 32 values' equal neighbours gives the runs of one
// before the first pair (their tokens are stored whole, 32 at a time) and the
// length of the run that pair starts, when it ends within the 32; one that
// goes on is left to longruns.
__attribute__((target(FASTTARGET))) static std::size_t encodeloop(const unsigned char *p, std::size_t n, writer &w,
                                                                  run &r, std::uint64_t &high)
{
    unsigned char *next = w.next;
    std::uint64_t count = 0; // bytes above 0x7F, kept here while stores go through next
    std::size_t s = 0;
    while (n - s >= 33) {
        next = advanced(w, next);
        const std::uint32_t same = sames(p + s), top = highs(p + s);
        storetokens(next, p + s);
        if (same == 0) {
            // 32 runs of one
            next += 32;
            count += static_cast<unsigned>(__builtin_popcount(top));
            s += 32;
            continue;
        }
        // t runs of one, then a run of more + 1 that ends within the 32
        // unless it reaches their end.
        const unsigned t = static_cast<unsigned>(__builtin_ctz(same));
        const unsigned more = static_cast<unsigned>(__builtin_ctzll(~std::uint64_t{same} >> t));
        next += t;
        const unsigned char v = valueof(p[s + t]);
        if (t + more < 32) {
            next[0] = v | 0x80;
            next[1] = static_cast<unsigned char>(more);
            next += 2;
            count += static_cast<unsigned>(__builtin_popcount(below(top, t + more + 1)));
            s += t + more + 1;
            continue;
        }
        count += static_cast<unsigned>(__builtin_popcount(top));
        s = longruns(p, n, s + t, s + 32, w, next, count, r);
    }
    w.next = advanced(w, next);
    high += count;
    return s;
}

#endif
#endif
