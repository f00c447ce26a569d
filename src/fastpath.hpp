// SPDX-License-Identifier: MIT
#ifndef BYTETAB_FASTPATH_HPP
#define BYTETAB_FASTPATH_HPP

#include <cstddef>
#include <cstdint>

/* Vector-instruction twins of the encoder's and the writer's inner loops, for
   x86 processors with GCC or Clang. Each gives exactly what the portable code
   it stands beside gives: that code is the reference, and the fuzzer and the
   tests compare the two. They are compiled for SSE2, SSSE3 and AVX2 and called
   only when fastlevel() says the processor has them. Elsewhere, and in a build
   with -DBYTETAB_PORTABLE=ON, BYTETAB_FAST is 0 and none of this exists. */

#if !defined(BYTETAB_PORTABLE) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define BYTETAB_FAST 1

// The highest level of vectorlevel() (runlength.hpp) that the processor has.
int fastlevel();

// runlength.cpp's scanrun, 16 input bytes at a time with SSE2, 32 with AVX2;
// of the bytes above 0x7F they add to `high` only the 0xFF in a run of 0:
// scanrun counts a run of another value from its length.
std::size_t fastscanrun(const unsigned char *p, std::size_t n, unsigned char value, std::uint64_t &high);
std::size_t widescanrun(const unsigned char *p, std::size_t n, unsigned char value, std::uint64_t &high);

// runlength.cpp's singles, with SSE2.
bool fastsingles(const unsigned char *p, unsigned char *tokens);

// headertext.cpp's fillitems of a whole line, with SSSE3.
void fastfillline(char *line, const unsigned char *tokens);

#else
#define BYTETAB_FAST 0
#endif

#endif
