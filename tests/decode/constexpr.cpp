// SPDX-License-Identifier: MIT
// The compile-time decode, checked by static_assert; with BYTETAB_MALFORMED,
// BYTETAB_MALFORMEDDECODE or BYTETAB_WRONGSIZE, a use that must not compile.
#include "bytetab/decode.h"

// As bytetab writes it for a file `sprite` that holds AAAB.
// clang-format off
#define SPRITE { \
0xC1, 0x02, 0x42,   }
// clang-format on

static constexpr unsigned char tokens[] = SPRITE;
static constexpr auto sprite = bytetab::decode<bytetab::decoded_size(tokens)>(tokens);
static_assert(sprite.size() == 4 && sprite[0] == 0x41 && sprite[2] == 0x41 && sprite[3] == 0x42, "");

static constexpr unsigned char runs[] = {0xFF, 0xFF, 0x80, 0x00, 0x05};
static constexpr auto big = bytetab::decode<bytetab::decoded_size(runs)>(runs);
static_assert(big.size() == 258 && big[255] == 0x7F && big[256] == 0 && big[257] == 5, "");

static constexpr unsigned char count0[] = {0x85, 0x00, 0x86, 0x01};
static constexpr auto counted = bytetab::decode<bytetab::decoded_size(count0)>(count0);
static_assert(counted.size() == 3 && counted[0] == 5 && counted[1] == 6 && counted[2] == 6, "");

#ifdef BYTETAB_MALFORMED
static constexpr unsigned char bad[] = {0x41, 0xC1};
static_assert(bytetab::decoded_size(bad) == 2, "");
#endif
#ifdef BYTETAB_MALFORMEDDECODE
static constexpr unsigned char bad[] = {0x41, 0xC1};
static_assert(bytetab::decode<2>(bad)[0] == 0x41, "");
#endif
#ifdef BYTETAB_WRONGSIZE
static_assert(bytetab::decode<3>(tokens)[0] == 0x41, "");
#endif
