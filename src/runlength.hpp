// SPDX-License-Identifier: MIT
#ifndef BYTETAB_RUNLENGTH_HPP
#define BYTETAB_RUNLENGTH_HPP

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "headertext.hpp"

// The highest level of vector instructions (headertext.hpp) that this build
// and this processor have: portable where the build has no vector paths.
int vectorlevel();

// How encoderuns reads: `block` bytes of input at a time, with vector
// instructions up to `level` where the processor has them. The output is the
// same either way; tests make the block small so that runs and lines straddle
// its edges, and compare the levels.
struct readmode {
    std::size_t block = std::size_t{256} << 10;
    int level = avx512;
};

// Reads `in` to its end and hands every token byte to the writer, in order.
// A run of 2 to 256 equal values becomes (value | 0x80, length - 1); a single
// value becomes (value & 0x7F). Input bytes 0xFF are taken as 0x00 first.
// Only the low 7 bits of a value survive; returns how many input bytes were
// above 0x7F. A read error ends the input like its end does; the caller tests
// ferror(in).
std::uint64_t encoderuns(std::FILE *in, writer &w, const readmode &mode = {});

#endif
