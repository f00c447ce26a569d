// SPDX-License-Identifier: MIT
// Token data through every entry point of the decoder, with every token byte
// counted as it is read, by a BYTETAB_READ that evaluates its argument twice
// (as a macro may): an argument with a side effect would read past the tokens.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

static std::size_t reads;
#define BYTETAB_READ(p) (++reads, (p) ? *(p) : 0)
#include "bytetab/decode.h"

using bytes = std::vector<unsigned char>;

static bytes operator+(bytes a, const bytes &b)
{
    return a.insert(a.end(), b.begin(), b.end()), a;
}

// `decoded` is what the complete tokens give; `malformed` when the data ends
// inside a token.
struct tokencase {
    const char *name;
    bytes tokens, decoded;
    bool malformed;
};

static const tokencase cases[] = {
    {"empty", {}, {}, false},
    {"singles", {0x00, 0x41, 0x7F}, {0x00, 0x41, 0x7F}, false},
    {"example", {0xC1, 0x02, 0x42}, {0x41, 0x41, 0x41, 0x42}, false},
    {"count0", {0x85, 0x00, 0x86, 0x01}, {5, 6, 6}, false},
    {"runs256", {0xFF, 0xFF, 0x80, 0xFF, 0x01}, bytes(256, 0x7F) + bytes(256, 0) + bytes{1}, false},
    {"flagonly", {0x80}, {}, true},
    {"endsinrun", {0x41, 0xC2, 0x03, 0xC3}, {0x41, 0x42, 0x42, 0x42, 0x42}, true},
};

TEST(Decode, EveryEntryPoint)
{
    for (const tokencase &c : cases) {
        SCOPED_TRACE(c.name);
        const unsigned char *t = c.tokens.data();
        const std::size_t n = c.tokens.size(), size = c.decoded.size(), error = BYTETAB_ERROR;
        const std::size_t want = c.malformed ? error : size;

        reads = 0;
        EXPECT_EQ(bytetab_decoded_size(t, n), want);
        EXPECT_EQ(reads, n);
        for (std::size_t capacity : {size, size + 9, size ? size - 1 : 0}) {
            bytes out(size + 16, 0xEE);
            const std::size_t got = bytetab_decode(t, n, out.data(), capacity);
            EXPECT_EQ(got, capacity < size ? error : want) << "capacity " << capacity;
            EXPECT_TRUE(std::all_of(out.begin() + capacity, out.end(), [](unsigned char b) { return b == 0xEE; }));
            if (capacity >= size) {
                EXPECT_EQ(bytes(out.begin(), out.begin() + size), c.decoded);
            }
        }

        bytes runs;
        auto run = [](void *to, unsigned char value, unsigned length) {
            EXPECT_TRUE(value < 0x80 && length >= 1 && length <= 256);
            static_cast<bytes *>(to)->insert(static_cast<bytes *>(to)->end(), length, value);
        };
        reads = 0;
        EXPECT_EQ(bytetab_decode_runs(t, n, run, &runs), c.malformed ? -1 : 0);
        EXPECT_EQ(reads, n);
        EXPECT_EQ(runs, c.decoded);

        for (std::size_t piece : {1, 7, 300}) {
            bytetab_stream stream;
            bytetab_stream_init(&stream, t, n);
            bytes whole, buffer(piece);
            std::size_t got;
            while ((got = bytetab_stream_read(&stream, buffer.data(), piece)) != 0 && got != error) {
                EXPECT_EQ(got, std::min(piece, size - whole.size())) << "piece " << piece;
                whole.insert(whole.end(), buffer.begin(), buffer.begin() + got);
            }
            EXPECT_EQ(got, c.malformed ? error : 0);
            EXPECT_EQ(bytetab_stream_read(&stream, buffer.data(), piece), got) << "read again";
            EXPECT_EQ(whole, c.decoded) << "piece " << piece;
        }
    }
}

// The compile-time functions called at run time, where no compile error can
// stop a wrong Size or malformed tokens.
TEST(Decode, CompileTimeFunctionsAtRunTime)
{
    static const unsigned char tokens[] = {0xC1, 0x02, 0x42}, malformed[] = {0x41, 0xC1};
    using four = std::array<unsigned char, 4>;
    using two = std::array<unsigned char, 2>;
    using six = std::array<unsigned char, 6>;
    EXPECT_EQ(bytetab::decoded_size(tokens), 4u);
    EXPECT_EQ(bytetab::decode<4>(tokens), (four{0x41, 0x41, 0x41, 0x42}));
    EXPECT_EQ(bytetab::decode<2>(tokens), (two{0x41, 0x41})) << "bytes past Size dropped";
    EXPECT_EQ(bytetab::decode<6>(tokens), (six{0x41, 0x41, 0x41, 0x42, 0, 0})) << "missing ones left 0";
    EXPECT_EQ(bytetab::decoded_size(malformed), BYTETAB_ERROR);
    EXPECT_EQ(bytetab::decode<2>(malformed), (two{0x41, 0x41})) << "a flag at the end taken as one byte";
}
