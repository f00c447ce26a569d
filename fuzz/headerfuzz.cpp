// libFuzzer target: encodes arbitrary bytes into a header in memory, parses
// the header back and aborts on any difference from what the bytes must give.
#include <cstdio>
#include <cstdlib>
#include <cstdint>

#include "headertext.hpp"
#include "runlength.hpp"
#include "headercheck.hpp"

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

    beginheader(out, "FUZZ");
    encoderuns(in, out);
    endheader(out);
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
    std::free(text);
    return 0;
}
