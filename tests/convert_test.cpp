// SPDX-License-Identifier: MIT
// The encoder and the header writer, in process, on temporary streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <random>

#include "headertext.hpp"
#include "runlength.hpp"
#include "headercheck.hpp"
#include "mixedruns.hpp"
#include "bytetab/decode.h"

// The header for `input` under the macro name "T", read as `mode` says.
static std::string convertwith(const bytes &input, const readmode &mode)
{
    std::FILE *in = std::tmpfile();
    std::FILE *out = std::tmpfile();
    EXPECT_TRUE(in && out);
    EXPECT_EQ(std::fwrite(input.data(), 1, input.size(), in), input.size());
    std::rewind(in);
    // Guard bytes right after the writer's block catch a write past it.
    static struct {
        writer w;
        char guard[2 * linesize];
    } g;
    std::memset(g.guard, 0x5A, sizeof g.guard);
    beginheader(g.w, out, "T");
    const std::uint64_t high = encoderuns(in, g.w, mode);
    endheader(g.w);
    EXPECT_EQ(std::string(g.guard, sizeof g.guard), std::string(sizeof g.guard, 0x5A)) << "written past the block";
    EXPECT_EQ(high,
              static_cast<std::uint64_t>(std::count_if(input.begin(), input.end(), [](int b) { return b > 0x7F; })))
        << "bytes above 0x7F, in blocks of " << mode.block << ", level " << mode.level;
    std::string text(static_cast<std::size_t>(std::ftell(out)), '\0');
    std::rewind(out);
    EXPECT_EQ(std::fread(text.data(), 1, text.size(), out), text.size());
    std::fclose(in);
    std::fclose(out);
    return text;
}

// The header for `input`, the same whichever way the input is read: with the
// portable code or with each level of vector instructions the processor has,
// in blocks of the usual size or of a few bytes, so that runs and whole lines
// straddle their edges (1,000 bytes: in the middle of the vector paths' spans
// of long runs). convertwith checks the count of bytes above 0x7F of each.
static std::string convert(const bytes &input)
{
    const std::string text = convertwith(input, {readmode{}.block, portable});
    for (int level = portable; level <= vectorlevel(); ++level)
        for (const std::size_t block :
             {std::size_t{1}, std::size_t{17}, std::size_t{100}, std::size_t{1000}, readmode{}.block})
            EXPECT_EQ(convertwith(input, {block, level}), text) << "blocks of " << block << ", level " << level;
    return text;
}

static bytes operator+(bytes a, const bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(Encoder, TokenExamples)
{
    // n pieces of 256 bytes of v; the n values 0, 1, 2, ...
    auto pieces = [](unsigned char v, unsigned n) {
        bytes t;
        for (; n > 0; --n)
            t.insert(t.end(), {static_cast<unsigned char>(v | 0x80), 0xFF});
        return t;
    };
    auto upto = [](unsigned n) {
        bytes b(n);
        for (unsigned i = 0; i < n; ++i)
            b[i] = static_cast<unsigned char>(i);
        return b;
    };
    const struct {
        bytes input, tokens;
    } cases[] = {
        {{0x41, 0x41, 0x41, 0x42}, {0xC1, 0x02, 0x42}},
        {{0x7F}, {0x7F}},
        {{0x80}, {0x00}},
        {{0xFF}, {0x00}},
        {{0xFF, 0xFF, 0xFF}, {0x80, 0x02}},
        {{0xFF, 0x00}, {0x80, 0x01}},
        {{0x41, 0xC1}, {0x41, 0x41}},
        {{0xFE, 0xFE}, {0xFE, 0x01}},
        {bytes(256, 0x00), {0x80, 0xFF}},
        {bytes(257, 0x00), {0x80, 0xFF, 0x00}},
        {bytes(258, 0x00), {0x80, 0xFF, 0x80, 0x01}},
        {bytes(512, 0x41), {0xC1, 0xFF, 0xC1, 0xFF}},
        {bytes(300, 0xFF) + bytes(2, 0x00), {0x80, 0xFF, 0x80, 0x2D}},
        // A run of 0 that is all 0xFF and ends inside the scan's last vectors.
        {bytes(200, 0xFF) + bytes(100, 0x41), {0x80, 0xC7, 0xC1, 0x63}},
        // The longest run whose tokens go to the writer at once, one longer,
        // and the longest after 11 items, which completes two lines.
        {bytes(1792, 0x41), pieces(0x41, 7)},
        {bytes(1793, 0x41), pieces(0x41, 7) + bytes{0x41}},
        {upto(11) + bytes(1792, 0x42), upto(11) + pieces(0x42, 7)},
        // The vector paths store up to 15 pieces at once, 16 at a time past.
        {upto(40) + bytes(3841, 0xC1) + upto(40), upto(40) + pieces(0x41, 15) + bytes{0x41} + upto(40)},
        {upto(40) + bytes(4097, 0xC1) + upto(40), upto(40) + pieces(0x41, 16) + bytes{0x41} + upto(40)},
        {upto(40) + bytes(8193, 0xC1) + upto(40), upto(40) + pieces(0x41, 32) + bytes{0x41} + upto(40)},
        {{}, {}},
    };
    for (const auto &c : cases) {
        bytes items;
        EXPECT_EQ(parseheader(convert(c.input), "T", items), "");
        EXPECT_EQ(items, c.tokens) << "input of " << c.input.size() << " bytes";
    }
}

TEST(Header, LinesOfTwelveItems)
{
    // n different neighbours, below 0xFF (which would join a run with 0).
    auto items = [](unsigned n) {
        bytes b;
        for (unsigned i = 0; i < n; ++i)
            b.push_back(static_cast<unsigned char>(i % 255));
        return b;
    };
    // The header of items(n), formatted here item by item.
    auto text = [&](unsigned n) {
        std::string t = "#define T { \\\n";
        char item[8];
        for (unsigned i = 0; i < n; ++i) {
            std::snprintf(item, sizeof item, "0x%02X, ", i % 255 & 0x7F);
            t += item;
            if (i % 12 == 11)
                t += "\\\n";
        }
        return t + "  } \n";
    };
    const std::string line1 = "0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, \\\n";
    const std::string line2 = "0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, \\\n";
    const struct {
        bytes input;
        std::string text;
    } cases[] = {
        {{}, "#define T { \\\n  } \n"},
        {items(3), "#define T { \\\n0x00, 0x01, 0x02,   } \n"},
        {items(12), "#define T { \\\n" + line1 + "  } \n"},
        {items(13), "#define T { \\\n" + line1 + "0x0C,   } \n"},
        {items(24), "#define T { \\\n" + line1 + line2 + "  } \n"},
        {bytes{0x0A} + bytes(256, 0x0B), "#define T { \\\n0x0A, 0x8B, 0xFF,   } \n"},
        // Exactly one writer's block, and one item more.
        {items(blocklines * 12), text(blocklines * 12)},
        {items(blocklines * 12 + 1), text(blocklines * 12 + 1)},
    };
    for (const auto &c : cases)
        EXPECT_EQ(convert(c.input), c.text);
    EXPECT_EQ(line1.size(), 73u + 1u);
}

// Inputs that put the ends of runs at every place in the vector paths' masks
// and windows (32 and 128 bytes), then random inputs of single bytes and
// runs, some large enough to pass many times through the writer's block.
TEST(Encoder, RoundTripsRandomInputs)
{
    std::mt19937 rng(7);
    auto random = [&](std::size_t n) {
        bytes b(n);
        for (unsigned char &c : b)
            c = static_cast<unsigned char>(rng());
        return b;
    };
    // The values cycle through neighbours that differ in bit 7 only, 0x00
    // and 0xFF (one run where they meet) and bytes above 0x7F.
    const unsigned char cycle[] = {0x41, 0xC1, 0x00, 0xFF, 0x7F, 0x80, 0x00, 0xFE};
    bytes endsat, shortamong, zeroff, dense;
    // Runs of 33 to 288 bytes: each ends at another place of a window.
    for (unsigned length = 33; length < 33 + 256; ++length)
        endsat.insert(endsat.end(), length, cycle[length % 8]);
    // Long runs, each followed by j short runs: windows with several ends.
    for (unsigned j = 1; j <= 64; ++j) {
        shortamong.insert(shortamong.end(), 150 + j, cycle[j % 8]);
        for (unsigned k = 0; k < j; ++k)
            shortamong.insert(shortamong.end(), 1 + (j + k) % 7, cycle[(j + k + 1) % 8]);
    }
    // 0x00 and 0xFF meeting at every place of a window, within runs of 0.
    for (unsigned j = 1; j <= 200; ++j) {
        zeroff.insert(zeroff.end(), j, 0x00);
        zeroff.insert(zeroff.end(), 257 - j, 0xFF);
        zeroff.insert(zeroff.end(), j % 3 + 1, 0x41);
    }
    // A long run, then many ends among long runs above 0x7F.
    for (unsigned j = 0; j < 4; ++j)
        dense = dense + bytes(40 + j, 0x41) + random(4500 + 100 * j) + bytes(3000, 0xC1) + bytes(40, 0x42);
    // Runs of 2 filling a quarter of the windows, among long runs: the tokens
    // of a span, stored before the writer's block is handed over, go far
    // past its end.
    bytes packed;
    while (packed.size() < 300000) {
        for (unsigned k = 0; k < 64; ++k)
            packed.insert(packed.end(), 2, k % 2 ? 0x41 : 0xC2);
        packed.insert(packed.end(), 384, 0x43);
    }
    // A block of the writer's tokens that ends inside a store of 32 of them.
    bytes blockend{0x05, 0x05};
    for (unsigned i = 0; i < 12 * blocklines + 100; ++i)
        blockend.push_back(static_cast<unsigned char>(i % 255));
    const bytes edges[] = {endsat, shortamong, zeroff, dense, packed, blockend};
    for (unsigned round = 0; round < std::size(edges) + 300; ++round) {
        const unsigned seed = round - static_cast<unsigned>(std::size(edges));
        const bytes input =
            round < std::size(edges) ? edges[round] : mixedruns(seed, seed % 10 == 0 ? 40000 : seed * 3);
        bytes tokens;
        ASSERT_EQ(parseheader(convert(input), "T", tokens), "") << "round " << round;
        ASSERT_EQ(checktokens(input, tokens), "") << "round " << round;
        // The shipped decoder gives back the input, 0xFF as 0 and bit 7 cleared.
        bytes decoded(input.size()), expected(input);
        for (unsigned char &b : expected)
            b = b == 0xFF ? 0 : b & 0x7F;
        ASSERT_EQ(bytetab_decode(tokens.data(), tokens.size(), decoded.data(), decoded.size()), input.size());
        ASSERT_EQ(decoded, expected) << "round " << round;
    }
}
