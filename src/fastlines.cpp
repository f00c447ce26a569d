// SPDX-License-Identifier: MIT
// The writer's whole line of twelve single tokens with SSSE3: the items'
// hexadecimal digits are looked up 16 at a time and shuffled into place.
#include "fastpath.hpp"

#if BYTETAB_FAST
#include <tmmintrin.h>

/* A whole line is twelve items of six characters and the line's end:

     offset  0     6     12          66    72 73
             0xHH, 0xHH, 0xHH, ...   0xHH, \  LF

   Item k's two digits are at 6k + 2 and 6k + 3. The items are written as five
   pieces of 16 bytes (the last one runs 8 bytes past them, over the line's end
   and 6 bytes beyond it): each piece is a fixed text with its digits shuffled
   in from one vector of digit pairs, items 0 to 7 for pieces 0 to 2 and items
   8 to 11 for pieces 3 and 4. */
struct linepattern {
    unsigned char text[5][16];    // the fixed characters, 0 where a digit goes
    unsigned char shuffle[5][16]; // where each digit comes from; 0x80: none
};

static constexpr linepattern makepattern()
{
    linepattern p{};
    const char fixed[] = "0x  , ";
    for (int o = 0; o < 80; ++o) {
        unsigned char &text = p.text[o / 16][o % 16];
        unsigned char &from = p.shuffle[o / 16][o % 16];
        const int item = o / 6, at = o % 6;
        from = 0x80;
        if (o >= 72)
            continue; // the line's end, which the writer puts in
        if (at == 2 || at == 3)
            from = static_cast<unsigned char>(2 * (item % 8) + at - 2);
        else
            text = static_cast<unsigned char>(fixed[at]);
    }
    return p;
}

static constexpr linepattern pattern = makepattern();

__attribute__((target("ssse3"))) static inline __m128i load(const unsigned char *p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

__attribute__((target("ssse3"))) void fastfillline(char *line, const unsigned char *tokens)
{
    const __m128i hex = _mm_setr_epi8('0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F');
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i t = load(tokens);
    const __m128i high = _mm_shuffle_epi8(hex, _mm_and_si128(_mm_srli_epi16(t, 4), nibble));
    const __m128i low = _mm_shuffle_epi8(hex, _mm_and_si128(t, nibble));
    const __m128i digits[2] = {_mm_unpacklo_epi8(high, low), _mm_unpackhi_epi8(high, low)};
    for (int piece = 0; piece < 5; ++piece) {
        const __m128i d = _mm_shuffle_epi8(digits[piece / 3], load(pattern.shuffle[piece]));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(line + std::ptrdiff_t{16} * piece),
                         _mm_or_si128(load(pattern.text[piece]), d));
    }
}

#endif
