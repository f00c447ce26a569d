// The encoder's scans with SSE2: scanrun, singles and counthigh of
// runlength.cpp, 16 input bytes at a time.
#include "fastpath.hpp"

#if BYTETAB_FAST
#include <emmintrin.h>

#include <algorithm>

int fastlevel()
{
    return __builtin_cpu_supports("ssse3") ? 2 : __builtin_cpu_supports("sse2") ? 1 : 0;
}

__attribute__((target("sse2"))) static inline __m128i load(const unsigned char *p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

// Bytes set where the 16 bytes from p on are in a run of v: equal to v, or
// for a run of 0, where 0xFF counts too, equal to their own sign (0 or -1).
template <bool zero>
__attribute__((target("sse2"))) static inline __m128i inrun(const unsigned char *p, __m128i v)
{
    const __m128i x = load(p);
    return _mm_cmpeq_epi8(x, zero ? _mm_cmpgt_epi8(_mm_setzero_si128(), x) : v);
}

__attribute__((target("sse2"))) static inline std::uint64_t bits(__m128i x)
{
    return static_cast<unsigned>(_mm_movemask_epi8(x));
}

template <bool zero>
__attribute__((target("sse2"))) static std::size_t scan(const unsigned char *p, std::size_t n, unsigned char value)
{
    const __m128i v = _mm_set1_epi8(static_cast<char>(value));
    std::size_t i = 0;
    // 64 bytes at a time; in those that hold the run's end, it is the first
    // clear bit of their mask.
    for (; n - i >= 64; i += 64) {
        const __m128i a = inrun<zero>(p + i, v), b = inrun<zero>(p + i + 16, v);
        const __m128i c = inrun<zero>(p + i + 32, v), d = inrun<zero>(p + i + 48, v);
        if (_mm_movemask_epi8(_mm_and_si128(_mm_and_si128(a, b), _mm_and_si128(c, d))) != 0xFFFF) {
            const std::uint64_t in = bits(a) | bits(b) << 16 | bits(c) << 32 | bits(d) << 48;
            return i + static_cast<unsigned>(__builtin_ctzll(~in));
        }
    }
    for (; n - i >= 16; i += 16) {
        const std::uint64_t other = ~bits(inrun<zero>(p + i, v)) & 0xFFFF;
        if (other != 0)
            return i + static_cast<unsigned>(__builtin_ctzll(other));
    }
    while (i < n && (p[i] == 0xFF ? 0 : p[i]) == value)
        ++i;
    return i;
}

__attribute__((target("sse2"))) std::size_t fastscanrun(const unsigned char *p, std::size_t n, unsigned char value)
{
    return value == 0 ? scan<true>(p, n, value) : scan<false>(p, n, value);
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

__attribute__((target("sse2"))) std::uint64_t fastcounthigh(const unsigned char *p, std::size_t n)
{
    // A byte above 0x7F is below 0 as a signed byte: the comparison gives -1
    // for it. Byte counters gather up to 252 of them, 64 bytes at a time,
    // before psadbw sums them into two 64-bit halves.
    const __m128i zero = _mm_setzero_si128();
    __m128i sums = zero;
    std::size_t i = 0;
    while (n - i >= 64) {
        const std::size_t end = i + std::min<std::size_t>((n - i) / 64, 63) * 64;
        __m128i counts = zero;
        for (; i < end; i += 64)
            for (int k = 0; k < 64; k += 16)
                counts = _mm_sub_epi8(counts, _mm_cmpgt_epi8(zero, load(p + i + k)));
        sums = _mm_add_epi64(sums, _mm_sad_epu8(counts, zero));
    }
    alignas(16) std::uint64_t halves[2];
    _mm_store_si128(reinterpret_cast<__m128i *>(halves), sums);
    std::uint64_t high = halves[0] + halves[1];
    for (; i < n; ++i)
        high += p[i] >> 7;
    return high;
}

#endif
