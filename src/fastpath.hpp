// SPDX-License-Identifier: MIT
#ifndef BYTETAB_FASTPATH_HPP
#define BYTETAB_FASTPATH_HPP

#include <cstddef>
#include <cstdint>

#include "headertext.hpp"

// The run being collected when a block of input ends, which may go on in the
// next block; length 0 when there is none.
struct run {
    unsigned char value;
    std::uint64_t length;
};

/* Vector-instruction twins of the encoder's and the writer's inner loops, for
   x86 processors with GCC or Clang. Each gives exactly what the portable code
   it stands beside gives: that code is the reference, and the fuzzer and the
   tests compare the two. They are compiled for SSE2, SSSE3, AVX2 and AVX-512
   and called only when fastlevel() says the processor has them. Elsewhere,
   and in a build with -DBYTETAB_PORTABLE=ON, BYTETAB_FAST is 0 and none of
   this exists. */

#if !defined(BYTETAB_PORTABLE) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define BYTETAB_FAST 1

// The highest level that the processor has, of those in headertext.hpp.
int fastlevel();

// runlength.cpp's scanrun, with SSE2 and with AVX2: how many of the n bytes
// from p on have the value `value`. Of the bytes above 0x7F they add to
// `high` only the 0xFF in a run of 0: scanrun counts a run of another value
// from its length.
std::size_t fastscanrun(const unsigned char *p, std::size_t n, unsigned char value, std::uint64_t &high);
std::size_t widescanrun(const unsigned char *p, std::size_t n, unsigned char value, std::uint64_t &high);

// runlength.cpp's loop over the runs of a block, with SSE2, AVX2 and
// AVX-512: a run starts at p[0]. They hand the runs' tokens to the writer and add the
// bytes above 0x7F to `high` up to where fewer than 33 bytes are left, and
// return how many bytes that was; or, where a run reaches p + n, put that run
// in `r` and return n.
std::size_t fastencode(const unsigned char *p, std::size_t n, writer &w, run &r, std::uint64_t &high);
std::size_t wideencode(const unsigned char *p, std::size_t n, writer &w, run &r, std::uint64_t &high);
std::size_t widestencode(const unsigned char *p, std::size_t n, writer &w, run &r, std::uint64_t &high);

// headertext.cpp's filllines, with SSSE3, AVX2 and AVX-512: `lines` whole
// lines from the token bytes at t (up to 16 are read past the last line's),
// at `to` (up to 32 bytes are written past the last line).
void fastlines(char *to, const unsigned char *t, std::size_t lines);
void widelines(char *to, const unsigned char *t, std::size_t lines);
void widestlines(char *to, const unsigned char *t, std::size_t lines);

#else
#define BYTETAB_FAST 0
#endif

#endif
