// SPDX-License-Identifier: MIT
// libFuzzer target: arbitrary bytes as tokens through every entry point of
// the decoder, include/bytetab/decode.h (compiled as C++ here). They must
// agree with a plain decode and with each other, the stream read in pieces of
// random sizes; every buffer is a heap block of its exact size, so that the
// sanitizers catch any access past one.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "bytetab/decode.h"

using bytes = std::vector<unsigned char>;
using block = std::unique_ptr<unsigned char[]>;

static void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "tokenfuzz: %s\n", what);
        std::abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const block tokens(new unsigned char[size]);
    std::copy(data, data + size, tokens.get());
    const unsigned char *t = tokens.get();

    // What the complete tokens give, and whether the data ends inside one.
    bytes want;
    bool malformed = false;
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char value = t[i] & 0x7F;
        std::size_t n = 1;
        if (t[i] & 0x80) {
            if (++i == size) {
                malformed = true;
                break;
            }
            n += t[i];
        }
        want.insert(want.end(), n, value);
    }
    const std::size_t total = want.size(), error = BYTETAB_ERROR;

    check(bytetab_decoded_size(t, size) == (malformed ? error : total), "decoded_size");
    const block out(new unsigned char[total]);
    check(bytetab_decode(t, size, out.get(), total) == (malformed ? error : total), "decode result");
    check(std::equal(want.begin(), want.end(), out.get()), "decode bytes");
    if (total) {
        const block shorter(new unsigned char[total - 1]);
        check(bytetab_decode(t, size, shorter.get(), total - 1) == error, "decode into one byte less");
    }

    bytes runs;
    auto run = [](void *to, unsigned char value, unsigned length) {
        check(value < 0x80 && length >= 1 && length <= 256, "run value or length");
        static_cast<bytes *>(to)->insert(static_cast<bytes *>(to)->end(), length, value);
    };
    check(bytetab_decode_runs(t, size, run, &runs) == (malformed ? -1 : 0), "runs result");
    check(runs == want, "runs bytes");

    // Pieces of 0 to 16 bytes mostly, some up to 600, some as large as all.
    std::uint32_t seed = 2166136261u;
    for (std::size_t i = 0; i < size; ++i)
        seed = (seed ^ t[i]) * 16777619u;
    std::minstd_rand rng(seed);
    const std::size_t limits[] = {17, 17, 600, 2 * total + 2};
    bytetab_stream stream;
    bytetab_stream_init(&stream, t, size);
    bytes read;
    for (int ends = 0; ends < 2;) {
        const std::size_t n = rng() % limits[rng() % 4], left = total - read.size();
        const block piece(new unsigned char[n]);
        const std::size_t got = bytetab_stream_read(&stream, piece.get(), n);
        if (n == 0)
            check(got == 0, "read of 0 bytes");
        else if (left)
            check(got == std::min(n, left), "read length");
        else {
            check(got == (malformed ? error : 0), "read at the end");
            ++ends;
        }
        if (got != error)
            read.insert(read.end(), piece.get(), piece.get() + got);
    }
    check(read == want, "stream bytes");
    return 0;
}
