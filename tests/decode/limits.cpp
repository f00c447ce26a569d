// SPDX-License-Identifier: MIT
// Compile-time decoding at the compilers' default limits, of more data than
// they took before the functions took fewer steps: 100,000 single bytes and
// 655,360 bytes in runs of 256, from the token lists that CMake writes in
// manytokens.h.
#include "bytetab/decode.h"
#include "manytokens.h"

static constexpr unsigned char singles[] = SINGLES;
static constexpr auto a = bytetab::decode<bytetab::decoded_size(singles)>(singles);
static_assert(a.size() == 100000 && a[99998] == 0x41 && a[99999] == 0x42, "");

static constexpr unsigned char runs[] = RUNS;
static constexpr auto b = bytetab::decode<bytetab::decoded_size(runs)>(runs);
static_assert(b.size() == 655360 && b[0] == 0x7F && b[655359] == 0x7F, "");
