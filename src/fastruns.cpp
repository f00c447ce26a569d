// SPDX-License-Identifier: MIT
// The encoder's scans with SSE2: scanrun and singles of runlength.cpp, 16
// input bytes at a time.
#include "fastpath.hpp"

#if BYTETAB_FAST
#include <emmintrin.h>

int fastlevel()
{
    // The AVX2 scan uses popcnt too; no processor has AVX2 without it or
    // without SSSE3, but the checks say what is used.
    const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3 && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt"))
        return 3;
    return ssse3 ? 2 : __builtin_cpu_supports("sse2") ? 1 : 0;
}

__attribute__((target("sse2"))) static inline __m128i load(const unsigned char *p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

// Bytes set where the bytes of x are in a run of v: equal to v, or for a run
// of 0, where 0xFF counts too, equal to their own sign (0 or -1).
template <bool zero>
__attribute__((target("sse2"))) static inline __m128i inrun(__m128i x, __m128i v)
{
    return _mm_cmpeq_epi8(x, zero ? _mm_cmpgt_epi8(_mm_setzero_si128(), x) : v);
}

__attribute__((target("sse2"))) static inline std::uint64_t bits(__m128i x)
{
    return static_cast<unsigned>(_mm_movemask_epi8(x));
}

__attribute__((target("sse2"))) static inline std::uint64_t sum(__m128i halves)
{
    std::uint64_t h[2];
    _mm_storeu_si128(reinterpret_cast<__m128i *>(h), halves);
    return h[0] + h[1];
}

// The rest of a run of `value` from p on, as scanrun gives it; for a run of 0
// its 0xFF bytes are added to `high` (the caller counts the others').
template <bool zero>
__attribute__((target("sse2"))) static std::size_t scan(const unsigned char *p, std::size_t n, unsigned char value,
                                                        std::uint64_t &high)
{
    const __m128i v = _mm_set1_epi8(static_cast<char>(value)), none = _mm_setzero_si128();
    // The 0xFF bytes of the run of 0 in the 64-bit halves, a psadbw of the
    // four vectors' bytes (each 0 or -1) summed and negated.
    __m128i ffs = none;
    std::size_t i = 0;
    // 64 bytes at a time; in those that hold the run's end, it is the first
    // clear bit of their mask.
    for (; n - i >= 64; i += 64) {
        const __m128i w = load(p + i), x = load(p + i + 16), y = load(p + i + 32), z = load(p + i + 48);
        const __m128i all = _mm_or_si128(_mm_or_si128(w, x), _mm_or_si128(y, z));
        if (zero && _mm_movemask_epi8(_mm_cmpeq_epi8(all, none)) == 0xFFFF)
            continue; // only 0x00: the common case of a run of 0
        const __m128i a = inrun<zero>(w, v), b = inrun<zero>(x, v), c = inrun<zero>(y, v), d = inrun<zero>(z, v);
        if (_mm_movemask_epi8(_mm_and_si128(_mm_and_si128(a, b), _mm_and_si128(c, d))) != 0xFFFF) {
            const std::uint64_t in = bits(a) | bits(b) << 16 | bits(c) << 32 | bits(d) << 48;
            const unsigned k = static_cast<unsigned>(__builtin_ctzll(~in));
            if (zero) {
                // The bytes before the end are 0 or 0xFF: their signs tell.
                const std::uint64_t signs = bits(w) | bits(x) << 16 | bits(y) << 32 | bits(z) << 48;
                high += sum(ffs) + static_cast<unsigned>(__builtin_popcountll(signs & ((std::uint64_t{1} << k) - 1)));
            }
            return i + k;
        }
        if (zero)
            ffs = _mm_add_epi64(
                ffs, _mm_sad_epu8(_mm_sub_epi8(none, _mm_add_epi8(_mm_add_epi8(w, x), _mm_add_epi8(y, z))), none));
    }
    if (zero)
        high += sum(ffs);
    for (; i < n && (p[i] == 0xFF ? 0 : p[i]) == value; ++i)
        high += zero ? p[i] >> 7 : 0;
    return i;
}

__attribute__((target("sse2"))) std::size_t fastscanrun(const unsigned char *p, std::size_t n, unsigned char value,
                                                        std::uint64_t &high)
{
    return value == 0 ? scan<true>(p, n, value, high) : scan<false>(p, n, value, high);
}

__attribute__((target("sse2"))) bool fastsingles(const unsigned char *p, unsigned char *tokens)
{
    const __m128i x = load(p);
    const __m128i values = _mm_andnot_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8(-1)), x);
    // Byte k is set where value k equals value k + 1; k from 0 to 11 count.
    const __m128i same = _mm_cmpeq_epi8(values, _mm_srli_si128(values, 1));
    if ((_mm_movemask_epi8(same) & 0x0FFF) != 0)
        return false;
    _mm_storeu_si128(reinterpret_cast<__m128i *>(tokens), _mm_and_si128(values, _mm_set1_epi8(0x7F)));
    return true;
}

#endif
