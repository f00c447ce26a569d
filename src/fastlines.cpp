// SPDX-License-Identifier: MIT
// The writer's whole lines with SSSE3 and with AVX2: the items' hexadecimal
// digits are looked up 16 at a time and shuffled into a line's fixed text.
#include "fastpath.hpp"

#if BYTETAB_FAST
#include <immintrin.h>

/* A whole line is twelve items of six characters and the line's end:

     offset  0     6     12          66    72 73
             0xHH, 0xHH, 0xHH, ...   0xHH, \  LF

   Item k's two digits are at 6k + 2 and 6k + 3. A line is stored as pieces
   of 16 bytes (SSSE3: five, 80 bytes) or 32 (AVX2: three, 96 bytes), which
   run past its end; the next line's pieces overwrite what they put there.
   Each piece is a fixed text with digits shuffled in, 16 bytes at a time, from
   a vector of digit pairs: items 0 to 7 up to offset 47, items 8 to 11 from
   offset 48 on. */
struct linepattern {
    unsigned char text[96];    // the fixed characters, 0 where a digit goes
    unsigned char shuffle[96]; // where each digit comes from; 0x80: none
};

static constexpr linepattern makepattern()
{
    linepattern p{};
    const char fixed[] = "0x  , ";
    for (int o = 0; o < 96; ++o) {
        const int item = o / 6, at = o % 6;
        p.shuffle[o] = 0x80;
        if (o >= 72)
            p.text[o] = o == 72 ? '\\' : o == 73 ? '\n' : 0;
        else if (at == 2 || at == 3)
            p.shuffle[o] = static_cast<unsigned char>(2 * (item % 8) + at - 2);
        else
            p.text[o] = static_cast<unsigned char>(fixed[at]);
    }
    return p;
}

static constexpr linepattern pattern = makepattern();

__attribute__((target("ssse3"))) static inline __m128i load(const unsigned char *p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

__attribute__((target("ssse3"))) void fastlines(char *to, const unsigned char *t, std::size_t lines)
{
    const __m128i hex = _mm_setr_epi8('0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F');
    const __m128i nibble = _mm_set1_epi8(0x0F);
    for (; lines > 0; --lines, to += linesize, t += 12) {
        const __m128i x = load(t);
        const __m128i high = _mm_shuffle_epi8(hex, _mm_and_si128(_mm_srli_epi16(x, 4), nibble));
        const __m128i low = _mm_shuffle_epi8(hex, _mm_and_si128(x, nibble));
        const __m128i digits[2] = {_mm_unpacklo_epi8(high, low), _mm_unpackhi_epi8(high, low)};
        for (int piece = 0; piece < 5; ++piece) {
            const __m128i d = _mm_shuffle_epi8(digits[piece / 3], load(pattern.shuffle + std::ptrdiff_t{16} * piece));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(to + std::ptrdiff_t{16} * piece),
                             _mm_or_si128(load(pattern.text + std::ptrdiff_t{16} * piece), d));
        }
    }
}

__attribute__((target("avx2"))) static inline __m256i wideload(const unsigned char *p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

__attribute__((target("avx2"))) static inline void widestore(char *p, __m256i x)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), x);
}

// Each line's 12 token bytes are loaded into both halves of a vector, so
// that each half gets its digits without a shuffle across them: the pieces
// take items 0 to 7 in both halves, 0 to 7 and 8 to 11, and 8 to 11.
__attribute__((target("avx2"))) void widelines(char *to, const unsigned char *t, std::size_t lines)
{
    const __m256i hex =
        _mm256_setr_epi8('0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F', '0', '1', '2',
                         '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F');
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i text0 = wideload(pattern.text), text1 = wideload(pattern.text + 32),
                  text2 = wideload(pattern.text + 64);
    const __m256i from0 = wideload(pattern.shuffle), from1 = wideload(pattern.shuffle + 32),
                  from2 = wideload(pattern.shuffle + 64);
    for (; lines > 0; --lines, to += linesize, t += 12) {
        const __m256i x = _mm256_broadcastsi128_si256(load(t));
        const __m256i high = _mm256_shuffle_epi8(hex, _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble));
        const __m256i low = _mm256_shuffle_epi8(hex, _mm256_and_si256(x, nibble));
        const __m256i first = _mm256_unpacklo_epi8(high, low), last = _mm256_unpackhi_epi8(high, low);
        widestore(to, _mm256_or_si256(text0, _mm256_shuffle_epi8(first, from0)));
        widestore(to + 32, _mm256_or_si256(text1, _mm256_shuffle_epi8(_mm256_blend_epi32(first, last, 0xF0), from1)));
        widestore(to + 64, _mm256_or_si256(text2, _mm256_shuffle_epi8(last, from2)));
    }
}

#endif
