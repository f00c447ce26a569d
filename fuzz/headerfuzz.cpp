// libFuzzer target: encodes arbitrary bytes into a header in memory, parses
// the header back, decodes its tokens with include/bytetab/decode.h and aborts
// on any difference from what the bytes must give.
#include <cstdio>
#include <cstdlib>
#include <cstdint>

#include "headertext.hpp"
#include "runlength.hpp"
#include "headercheck.hpp"
#include "bytetab/decode.h"

static void fail(const char *what, const std::string &why)
{
    std::fprintf(stderr, "%s: %s\n", what, why.c_str());
    std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const bytes input(data, data + size);
    std::FILE *in = fmemopen(const_cast<std::uint8_t *>(data), size, "rb");
    char *text = nullptr;
    std::size_t length = 0;
    std::FILE *out = open_memstream(&text, &length);
    if (!in || !out)
        fail("setup", "cannot open the streams");

    static writer w;
    beginheader(w, out, "FUZZ");
    encoderuns(in, w);
    endheader(w);
    if (std::ferror(in) || std::ferror(out) || std::fclose(out) != 0)
        fail("streams", "an I/O error");
    std::fclose(in);

    bytes tokens;
    std::string why = parseheader(std::string(text, length), "FUZZ", tokens);
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
    std::free(text);
    return 0;
}
