// SPDX-License-Identifier: MIT
// The encoder and the writer's lines with AVX-512 (F, BW, VL and VBMI): the
// encoder's loop of fastloop.hpp with masks of 64 bytes from one compare, and
// four lines of text at a time, each 64 bytes of them picked from the lines'
// digits and the fixed characters by one permutation.
#include "fastpath.hpp"

#if BYTETAB_FAST
#include <immintrin.h>

#define FASTTARGET "avx512f,avx512bw,avx512vl,avx512vbmi,avx2,bmi,bmi2,popcnt"

__attribute__((target(FASTTARGET))) static inline __m256i load(const unsigned char *p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

__attribute__((target(FASTTARGET))) static inline __m512i load64(const void *p)
{
    return _mm512_loadu_si512(p);
}

// The values of x's bytes: 0xFF taken as 0, as x + 1 is 0 only there.
__attribute__((target(FASTTARGET))) static inline __m256i values(__m256i x)
{
    return _mm256_min_epu8(x, _mm256_sub_epi8(x, _mm256_set1_epi8(-1)));
}

__attribute__((target(FASTTARGET))) static inline __m512i values64(__m512i x)
{
    return _mm512_min_epu8(x, _mm512_sub_epi8(x, _mm512_set1_epi8(-1)));
}

// fastloop.hpp's primitives.

__attribute__((target(FASTTARGET))) static inline std::uint32_t sames(const unsigned char *p)
{
    return _mm256_cmpeq_epi8_mask(values(load(p)), values(load(p + 1)));
}

__attribute__((target(FASTTARGET))) static inline std::uint32_t highs(const unsigned char *p)
{
    return _mm256_movepi8_mask(load(p));
}

__attribute__((target(FASTTARGET))) static inline void storetokens(unsigned char *t, const unsigned char *p)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(t), _mm256_and_si256(values(load(p)), _mm256_set1_epi8(0x7F)));
}

__attribute__((target(FASTTARGET))) static inline void storepieces(unsigned char *t, unsigned char v)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(t), _mm256_set1_epi16(static_cast<short>((v | 0x80) - 0x100)));
}

__attribute__((target(FASTTARGET))) static inline std::uint64_t starts(const unsigned char *p)
{
    return _mm512_cmpneq_epi8_mask(values64(load64(p - 1)), values64(load64(p)));
}

__attribute__((target(FASTTARGET))) static inline bool differs(const unsigned char *p)
{
    // Faster here than compares of 64 bytes into masks.
    const __m256i b = _mm256_set1_epi8(static_cast<char>(p[-1]));
    const __m256i d =
        _mm256_or_si256(_mm256_or_si256(_mm256_xor_si256(b, load(p)), _mm256_xor_si256(b, load(p + 32))),
                        _mm256_or_si256(_mm256_xor_si256(b, load(p + 64)), _mm256_xor_si256(b, load(p + 96))));
    return _mm256_testz_si256(d, d) == 0;
}

#define FASTSCANRUN widescanrun // the AVX2 scan serves here too
#include "fastloop.hpp"

__attribute__((target(FASTTARGET))) std::size_t widestencode(const unsigned char *p, std::size_t n, writer &w, run &r,
                                                             std::uint64_t &high)
{
    return encodeloop(p, n, w, r, high);
}

/* Four lines are 296 bytes of text from 48 token bytes, stored as five
   pieces of 64 (the last runs 24 bytes past them, where the next lines go).
   The digits of the 48 tokens are looked up into two vectors, the high ones
   and the low ones, and the fixed characters put in the first vector's
   bytes 48 to 53; each byte of a piece is then the byte of the two vectors
   that its index names. */
struct quadpattern {
    unsigned char from[5][64];
    unsigned char chars[64]; // the fixed characters, where they go in the first vector
};

// Where the fixed characters stand in the first vector.
constexpr unsigned char fixedat = 48;

static constexpr quadpattern makequad()
{
    quadpattern p{};
    const char fixed[] = "0x, \\\n";
    for (unsigned k = 0; k < 6; ++k)
        p.chars[fixedat + k] = static_cast<unsigned char>(fixed[k]);
    for (unsigned o = 0; o < 5 * 64; ++o) {
        const unsigned line = o / linesize, at = o % linesize, item = at / 6, token = 12 * line + item;
        unsigned char &from = p.from[o / 64][o % 64];
        if (line >= 4 || at == 72)
            from = fixedat + 4; // the backslash, or anything past the fourth line
        else if (at == 73)
            from = fixedat + 5;
        else if (at % 6 == 2)
            from = static_cast<unsigned char>(token);
        else if (at % 6 == 3)
            from = static_cast<unsigned char>(64 + token);
        else
            from = static_cast<unsigned char>(fixedat + (at % 6 < 2 ? at % 6 : at % 6 - 2));
    }
    return p;
}

static constexpr quadpattern quad = makequad();

__attribute__((target(FASTTARGET))) void widestlines(char *to, const unsigned char *t, std::size_t lines)
{
    const __m512i hex = _mm512_broadcast_i32x4(
        _mm_setr_epi8('0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'));
    const __m512i nibble = _mm512_set1_epi8(0x0F);
    const __m512i chars = load64(quad.chars);
    for (; lines >= 4; lines -= 4, to += std::ptrdiff_t{4} * linesize, t += std::ptrdiff_t{4} * 12) {
        const __m512i x = load64(t);
        const __m512i high =
            _mm512_mask_blend_epi8(std::uint64_t{0x3F} << fixedat,
                                   _mm512_shuffle_epi8(hex, _mm512_and_si512(_mm512_srli_epi16(x, 4), nibble)), chars);
        const __m512i low = _mm512_shuffle_epi8(hex, _mm512_and_si512(x, nibble));
        for (int piece = 0; piece < 5; ++piece)
            _mm512_storeu_si512(to + std::ptrdiff_t{64} * piece,
                                _mm512_permutex2var_epi8(high, load64(quad.from[piece]), low));
    }
    if (lines > 0)
        widelines(to, t, lines);
}

#endif
