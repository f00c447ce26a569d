// SPDX-License-Identifier: MIT
// Inputs that try the encoder, shared by the tests and the fuzzers.
#ifndef BYTETAB_SUPPORT_MIXEDRUNS_HPP
#define BYTETAB_SUPPORT_MIXEDRUNS_HPP

#include <random>
#include <vector>

using bytes = std::vector<unsigned char>;

// About `size` bytes of single values, runs (some longer than 256, a few
// longer than 1,792, whose pieces are written another way) and stretches of
// random bytes, whose values are mostly single, over values that try the
// encoder's edges: 0 and 255, neighbours that differ only in bit 7.
inline bytes mixedruns(unsigned seed, std::size_t size)
{
    std::mt19937 rng(seed);
    auto pick = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
    const unsigned char edges[] = {0x00, 0xFF, 0x41, 0xC1, 0x7F, 0x80};
    bytes input;
    while (input.size() < size) {
        if (pick(8) == 0) {
            for (unsigned n = 1 + pick(60); n > 0; --n)
                input.push_back(static_cast<unsigned char>(pick(256)));
            continue;
        }
        const unsigned char v = pick(2) ? edges[pick(6)] : static_cast<unsigned char>(pick(256));
        input.insert(input.end(), pick(3) ? 1 : pick(16) ? 2 + pick(600) : 2 + pick(4000), v);
    }
    return input;
}

#endif
