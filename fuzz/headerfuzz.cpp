// SPDX-License-Identifier: MIT
// libFuzzer target: encodes arbitrary bytes into a header in memory, with the
// portable code and each level of vector instructions, in blocks of several
// sizes; parses the header back, decodes its tokens with
// include/bytetab/decode.h and aborts on any difference from what the bytes
// must give.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstdint>

#include "headertext.hpp"
#include "runlength.hpp"
#include "headercheck.hpp"
#include "bytetab/decode.h"

static void fail(const std::string &what, const std::string &why)
{
    std::fprintf(stderr, "%s: %s\n", what.c_str(), why.c_str());
    std::abort();
}

// The header of the input, read as `mode` says; aborts on an I/O error or a
// wrong count of bytes above 0x7F.
static std::string convert(const bytes &input, const readmode &mode)
{
    std::FILE *in = fmemopen(const_cast<unsigned char *>(input.data()), input.size(), "rb");
    char *text = nullptr;
    std::size_t length = 0;
    std::FILE *out = open_memstream(&text, &length);
    if (!in || !out)
        fail("setup", "cannot open the streams");

    static writer w;
    beginheader(w, out, "FUZZ");
    const std::uint64_t high = encoderuns(in, w, mode);
    endheader(w);
    if (std::ferror(in) || std::ferror(out) || std::fclose(out) != 0)
        fail("streams", "an I/O error");
    std::fclose(in);
    std::uint64_t expected = 0;
    for (const unsigned char b : input)
        expected += b > 0x7F;
    if (high != expected)
        fail("encoder", "counted " + std::to_string(high) + " bytes above 0x7F, not " + std::to_string(expected));
    std::string header(text, length);
    std::free(text);
    return header;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const bytes input(data, data + size);
    // In one block, as the tool reads inputs of up to 256 KiB (a smaller one
    // than the tool's is much cheaper for the sanitizers' allocator), with
    // the portable code, the reference for the vector levels. Read in small
    // blocks, runs and whole lines straddle their edges.
    const std::size_t whole = std::max<std::size_t>(size, 1);
    const std::string header = convert(input, {whole, portable});
    const std::size_t block = 1 + (size > 0 ? data[0] : 0) % 80;
    for (int level = portable; level <= vectorlevel(); ++level) {
        if (convert(input, {whole, level}) != header)
            fail("level " + std::to_string(level), "another header than the portable code writes");
        if (convert(input, {block, level}) != header)
            fail("level " + std::to_string(level) + ", blocks of " + std::to_string(block),
                 "another header than one block gives");
    }

    bytes tokens;
    std::string why = parseheader(header, "FUZZ", tokens);
    if (!why.empty())
        fail("header text", why);
    why = checktokens(input, tokens);
    if (!why.empty())
        fail("tokens", why);

    // The decoder gives the input back, 0xFF as 0 and bit 7 cleared, into a
    // buffer of the exact size.
    bytes decoded(input.size());
    const std::size_t got = bytetab_decode(tokens.data(), tokens.size(), decoded.data(), decoded.size());
    if (got != input.size())
        fail("decoder", "returned " + std::to_string(got) + " for " + std::to_string(input.size()) + " bytes");
    for (std::size_t i = 0; i < input.size(); ++i)
        if (decoded[i] != (input[i] == 0xFF ? 0 : input[i] & 0x7F))
            fail("decoder", "wrong byte at offset " + std::to_string(i));
    return 0;
}
