#ifndef BYTETAB_RUNLENGTH_HPP
#define BYTETAB_RUNLENGTH_HPP

#include <cstdint>
#include <cstdio>

#include "headertext.hpp"

// Reads `in` to its end and hands every token byte to outbyte(w, ...).
// A run of 2 to 256 equal values becomes (value | 0x80, length - 1); a single
// value becomes (value & 0x7F). Input bytes 0xFF are taken as 0x00 first.
// Only the low 7 bits of a value survive; returns how many input bytes were
// above 0x7F. A read error ends the input like its end does; the caller tests
// ferror(in).
std::uint64_t encoderuns(std::FILE *in, writer &w);

#endif
