// SPDX-License-Identifier: MIT
// Test-side readers of the header: a strict parser of its text and a check of
// its tokens against the input they came from.
#ifndef BYTETAB_SUPPORT_HEADERCHECK_HPP
#define BYTETAB_SUPPORT_HEADERCHECK_HPP

#include <string>
#include <vector>

using bytes = std::vector<unsigned char>;

// Reads the items of a header for the macro `name` into `items`, checking the
// whole text on the way: the opening line, lines of twelve items that end in
// a backslash (73 characters), and the closing text right after the last
// item. Returns "" or what is wrong.
inline std::string parseheader(const std::string &text, const std::string &name, bytes &items,
                               const std::string &eol = "\n")
{
    auto hex = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; };
    auto has = [&](std::size_t at, const std::string &s) { return text.compare(at, s.size(), s) == 0; };
    items.clear();
    const std::string open = "#define " + name + " { \\" + eol;
    if (!has(0, open))
        return "bad opening line";
    std::size_t at = open.size();
    for (;;) {
        int n = 0;
        for (; n < 12 && at + 6 <= text.size() && has(at, "0x"); ++n, at += 6) {
            const int hi = hex(text[at + 2]), lo = hex(text[at + 3]);
            if (hi < 0 || lo < 0 || !has(at + 4, ", "))
                return "bad item at offset " + std::to_string(at);
            items.push_back(static_cast<unsigned char>(hi * 16 + lo));
        }
        if (n < 12)
            break;
        if (!has(at, "\\" + eol))
            return "no backslash after twelve items at offset " + std::to_string(at);
        at += 1 + eol.size();
    }
    if (text.compare(at, std::string::npos, "  } " + eol) != 0)
        return "bad closing text at offset " + std::to_string(at);
    return "";
}

// Walks the tokens along the input they encode. Returns "" when they decode
// to the input (255 taken as 0, bit 7 cleared) and every run is maximal: cut
// only at 256 bytes or where the full 8-bit values differ. Otherwise returns
// what is wrong.
inline std::string checktokens(const bytes &input, const bytes &tokens)
{
    auto value = [&](std::size_t i) { return input[i] == 0xFF ? 0 : input[i]; };
    std::size_t at = 0;
    for (std::size_t t = 0; t < tokens.size(); ++t) {
        const std::string where = "token " + std::to_string(t) + ": ";
        const unsigned char first = tokens[t];
        std::size_t length = 1;
        if (first & 0x80) {
            if (++t == tokens.size())
                return where + "run flag without a count";
            if (tokens[t] == 0)
                return where + "count 0";
            length = tokens[t] + 1u;
        }
        if (at + length > input.size())
            return where + "decodes past the input";
        const int v = value(at);
        if ((v & 0x7F) != (first & 0x7F))
            return where + "wrong value";
        for (std::size_t i = at + 1; i < at + length; ++i)
            if (value(i) != v)
                return where + "run over different values";
        at += length;
        if (length < 256 && at < input.size() && value(at) == v)
            return where + "run cut short";
    }
    return at == input.size() ? "" : "tokens end before the input";
}

#endif
