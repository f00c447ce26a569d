// SPDX-License-Identifier: MIT
// The encoder with AVX2: runlength.cpp's scanrun and its loop over a block's
// runs, 32 input bytes at a time, in the way of fastruns.cpp's SSE2 code.
#include "fastpath.hpp"

#if BYTETAB_FAST
#include <immintrin.h>

__attribute__((target("avx2"))) static inline __m256i load(const unsigned char *p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

// Bytes set where the bytes of x are in a run of v: equal to v, or for a run
// of 0, where 0xFF counts too, equal to their own sign (0 or -1).
template <bool zero>
__attribute__((target("avx2"))) static inline __m256i inrun(__m256i x, __m256i v)
{
    return _mm256_cmpeq_epi8(x, zero ? _mm256_cmpgt_epi8(_mm256_setzero_si256(), x) : v);
}

// The bits of two vectors' bytes, x's at the bottom.
__attribute__((target("avx2"))) static inline std::uint64_t bits(__m256i x, __m256i y)
{
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(x)) |
           std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(y))} << 32;
}

// An unaligned store: MinGW's GCC does not align the stack to 32 bytes.
__attribute__((target("avx2"))) static inline std::uint64_t sum(__m256i quarters)
{
    std::uint64_t q[4];
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(q), quarters);
    return q[0] + q[1] + q[2] + q[3];
}

// The rest of a run of `value` from p on, as scanrun gives it; for a run of 0
// its 0xFF bytes are added to `high` (the caller counts the others').
template <bool zero>
__attribute__((target("avx2,popcnt"))) static std::size_t scan(const unsigned char *p, std::size_t n,
                                                               unsigned char value, std::uint64_t &high)
{
    const __m256i v = _mm256_set1_epi8(static_cast<char>(value)), none = _mm256_setzero_si256();
    // The 0xFF bytes of the run of 0 in the 64-bit quarters, a vpsadbw of the
    // two vectors' bytes (each 0 or -1) summed and negated.
    __m256i ffs = none;
    std::size_t i = 0;
    // 128 bytes at a time while they are all v (for a run of 0: all 0x00, or
    // all 0xFF); then 64 at a time: in those that hold the run's end, it is
    // the first clear bit of their mask.
    for (; n - i >= 128; i += 128) {
        const __m256i w = load(p + i), x = load(p + i + 32), y = load(p + i + 64), z = load(p + i + 96);
        if (zero) {
            if (_mm256_testz_si256(_mm256_or_si256(_mm256_or_si256(w, x), _mm256_or_si256(y, z)), _mm256_set1_epi8(-1)))
                continue;
            if (_mm256_testc_si256(_mm256_and_si256(_mm256_and_si256(w, x), _mm256_and_si256(y, z)),
                                   _mm256_set1_epi8(-1))) {
                high += 128;
                continue;
            }
        } else if (_mm256_testz_si256(_mm256_or_si256(_mm256_or_si256(_mm256_xor_si256(w, v), _mm256_xor_si256(x, v)),
                                                      _mm256_or_si256(_mm256_xor_si256(y, v), _mm256_xor_si256(z, v))),
                                      _mm256_set1_epi8(-1))) {
            continue;
        }
        break;
    }
    for (; n - i >= 64; i += 64) {
        const __m256i x = load(p + i), y = load(p + i + 32);
        const __m256i all = _mm256_or_si256(x, y);
        if (zero && _mm256_testz_si256(all, all))
            continue; // only 0x00: the common case of a run of 0
        const __m256i a = inrun<zero>(x, v), b = inrun<zero>(y, v);
        if (_mm256_movemask_epi8(_mm256_and_si256(a, b)) != -1) {
            const unsigned k = static_cast<unsigned>(__builtin_ctzll(~bits(a, b)));
            // The bytes before the end are 0 or 0xFF: their signs tell.
            if (zero)
                high +=
                    sum(ffs) + static_cast<unsigned>(__builtin_popcountll(bits(x, y) & ((std::uint64_t{1} << k) - 1)));
            return i + k;
        }
        if (zero)
            ffs = _mm256_add_epi64(ffs, _mm256_sad_epu8(_mm256_sub_epi8(none, _mm256_add_epi8(x, y)), none));
    }
    if (zero)
        high += sum(ffs);
    for (; i < n && (p[i] == 0xFF ? 0 : p[i]) == value; ++i)
        high += zero ? p[i] >> 7 : 0;
    return i;
}

__attribute__((target("avx2,popcnt"))) std::size_t widescanrun(const unsigned char *p, std::size_t n,
                                                               unsigned char value, std::uint64_t &high)
{
    return value == 0 ? scan<true>(p, n, value, high) : scan<false>(p, n, value, high);
}

// fastloop.hpp's primitives.

// The values of x's bytes: 0xFF taken as 0.
__attribute__((target("avx2"))) static inline __m256i values(__m256i x)
{
    return _mm256_andnot_si256(_mm256_cmpeq_epi8(x, _mm256_set1_epi8(-1)), x);
}

__attribute__((target("avx2"))) static inline std::uint32_t sames(const unsigned char *p)
{
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(values(load(p)), values(load(p + 1)))));
}

__attribute__((target("avx2"))) static inline std::uint32_t highs(const unsigned char *p)
{
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(load(p)));
}

__attribute__((target("avx2"))) static inline void storetokens(unsigned char *t, const unsigned char *p)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(t), _mm256_and_si256(values(load(p)), _mm256_set1_epi8(0x7F)));
}

__attribute__((target("avx2"))) static inline void storepieces(unsigned char *t, unsigned char v)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(t), _mm256_set1_epi16(static_cast<short>((v | 0x80) - 0x100)));
}

__attribute__((target("avx2"))) static inline std::uint64_t starts(const unsigned char *p)
{
    return ~(sames(p - 1) | std::uint64_t{sames(p + 31)} << 32);
}

__attribute__((target("avx2"))) static inline bool differs(const unsigned char *p)
{
    const __m256i b = _mm256_set1_epi8(static_cast<char>(p[-1]));
    const __m256i d =
        _mm256_or_si256(_mm256_or_si256(_mm256_xor_si256(b, load(p)), _mm256_xor_si256(b, load(p + 32))),
                        _mm256_or_si256(_mm256_xor_si256(b, load(p + 64)), _mm256_xor_si256(b, load(p + 96))));
    return _mm256_testz_si256(d, d) == 0;
}

#define FASTTARGET "avx2,bmi,bmi2,popcnt"
#define FASTSCANRUN widescanrun
#include "fastloop.hpp"

__attribute__((target(FASTTARGET))) std::size_t wideencode(const unsigned char *p, std::size_t n, writer &w, run &r,
                                                           std::uint64_t &high)
{
    return encodeloop(p, n, w, r, high);
}

#endif
