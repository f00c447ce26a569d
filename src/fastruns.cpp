// SPDX-License-Identifier: MIT
// The encoder with SSE2: runlength.cpp's scanrun and its loop over a block's
// runs, 16 input bytes at a time.
#include "fastpath.hpp"

#if BYTETAB_FAST
#include <emmintrin.h>

int fastlevel()
{
    // The AVX2 code uses popcnt, tzcnt (BMI) and bzhi (BMI2) too; no
    // processor has AVX2 without them or without SSSE3, but the checks say
    // what is used.
    const bool shuffles = __builtin_cpu_supports("ssse3");
    if (shuffles && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt") &&
        __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2"))
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                       __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi")
                   ? avx512
                   : avx2;
    return shuffles ? ssse3 : __builtin_cpu_supports("sse2") ? sse2 : portable;
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

// fastloop.hpp's primitives, each from two vectors of 16 bytes.

// The values of x's bytes: 0xFF taken as 0.
__attribute__((target("sse2"))) static inline __m128i values(__m128i x)
{
    return _mm_andnot_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8(-1)), x);
}

__attribute__((target("sse2"))) static inline std::uint32_t halfsames(const unsigned char *p)
{
    return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(values(load(p)), values(load(p + 1)))));
}

__attribute__((target("sse2"))) static inline std::uint32_t sames(const unsigned char *p)
{
    return halfsames(p) | halfsames(p + 16) << 16;
}

__attribute__((target("sse2"))) static inline std::uint32_t highs(const unsigned char *p)
{
    return static_cast<std::uint32_t>(_mm_movemask_epi8(load(p))) |
           static_cast<std::uint32_t>(_mm_movemask_epi8(load(p + 16))) << 16;
}

__attribute__((target("sse2"))) static inline void storetokens(unsigned char *t, const unsigned char *p)
{
    const __m128i low = _mm_set1_epi8(0x7F);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(t), _mm_and_si128(values(load(p)), low));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(t + 16), _mm_and_si128(values(load(p + 16)), low));
}

__attribute__((target("sse2"))) static inline void storepieces(unsigned char *t, unsigned char v)
{
    const __m128i pieces = _mm_set1_epi16(static_cast<short>((v | 0x80) - 0x100));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(t), pieces);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(t + 16), pieces);
}

__attribute__((target("sse2"))) static inline std::uint64_t starts(const unsigned char *p)
{
    return ~(sames(p - 1) | std::uint64_t{sames(p + 31)} << 32);
}

__attribute__((target("sse2"))) static inline bool differs(const unsigned char *p)
{
    const __m128i b = _mm_set1_epi8(static_cast<char>(p[-1]));
    __m128i d = _mm_setzero_si128();
    for (int k = 0; k < 128; k += 16)
        d = _mm_or_si128(d, _mm_xor_si128(b, load(p + k)));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(d, _mm_setzero_si128())) != 0xFFFF;
}

#define FASTTARGET "sse2"
#define FASTSCANRUN fastscanrun
#include "fastloop.hpp"

__attribute__((target("sse2"))) std::size_t fastencode(const unsigned char *p, std::size_t n, writer &w, run &r,
                                                       std::uint64_t &high)
{
    return encodeloop(p, n, w, r, high);
}

#endif
