// Test-side readers of the header: the item bytes it holds, the layout it
// must have, and a check of its tokens against the input they came from.
#ifndef BYTETAB_TESTS_TOKENS_HPP
#define BYTETAB_TESTS_TOKENS_HPP

#include <cstdio>
#include <string>
#include <vector>

using bytes = std::vector<unsigned char>;

// The item bytes of a header, in order: every "0x" followed by two digits.
inline bytes itemsof(const std::string &text)
{
    bytes items;
    for (std::size_t i = text.find("0x"); i != std::string::npos; i = text.find("0x", i + 4))
        items.push_back(static_cast<unsigned char>(std::stoi(text.substr(i + 2, 2), nullptr, 16)));
    return items;
}

// The header text that a name and its items must give, built item by item
// with formatted output: twelve items a line, then a backslash.
inline std::string layout(const std::string &name, const bytes &items, const std::string &eol = "\n")
{
    std::string text = "#define " + name + " { \\" + eol;
    for (std::size_t i = 0; i < items.size(); ++i) {
        char item[8];
        std::snprintf(item, sizeof item, "0x%02X, ", items[i]);
        text += item;
        if (i % 12 == 11)
            text += "\\" + eol;
    }
    return text + "  } " + eol;
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
        std::size_t length = 1;
        if (tokens[t] & 0x80) {
            if (++t == tokens.size())
                return where + "run flag without a count";
            if (tokens[t] == 0)
                return where + "count 0";
            length = tokens[t] + 1u;
        }
        if (at + length > input.size())
            return where + "decodes past the input";
        const int first = value(at);
        if ((first & 0x7F) != (tokens[t - (length > 1)] & 0x7F))
            return where + "wrong value";
        for (std::size_t i = at + 1; i < at + length; ++i)
            if (value(i) != first)
                return where + "run over different values";
        at += length;
        if (length < 256 && at < input.size() && value(at) == first)
            return where + "run cut short";
    }
    return at == input.size() ? "" : "tokens end before the input";
}

#endif
