// SPDX-License-Identifier: MIT
// Writes the data that the simulator runs decode, in the folder it is given:
// sample.bin, for bytetab to convert, and expected.h, what the decoder must
// give back (EXPECTED, EXPECTED_SIZE): 255 as 0, then bit 7 cleared.
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fputs("usage: sample <folder>\n", stderr);
        return 2;
    }
    std::vector<unsigned char> data;
    auto add = [&](std::size_t n, unsigned char value) { data.insert(data.end(), n, value); };
    for (const char c : std::string("bytetab "))
        add(1, static_cast<unsigned char>(c));
    add(300, 'A');  // longer than 256
    add(1, 0xC1);   // differs from the run before in bit 7 only
    add(257, 0xFF); // 256 and one more, of zeros
    for (const unsigned char c : {0x80, 0xFE, 0x7F})
        add(1, c);
    add(256, ' ');
    add(1, 0xFF); // 255 and 0: one run of two zeros
    add(1, 0x00);
    add(1, 'x');
    for (unsigned v = 0; v < 256; ++v) // each value once, single
        add(1, static_cast<unsigned char>(v));

    const std::string folder = argv[1];
    std::FILE *bin = std::fopen((folder + "/sample.bin").c_str(), "wb");
    std::FILE *header = std::fopen((folder + "/expected.h").c_str(), "w");
    if (!bin || !header || std::fwrite(data.data(), 1, data.size(), bin) != data.size())
        return 1;
    std::fprintf(header, "#define EXPECTED_SIZE %zu\n#define EXPECTED {", data.size());
    for (std::size_t i = 0; i < data.size(); ++i)
        std::fprintf(header, "%s0x%02X,", i % 16 ? " " : " \\\n", data[i] == 0xFF ? 0 : data[i] & 0x7F);
    std::fputs(" }\n", header);
    return std::fclose(bin) != 0 || std::fclose(header) != 0;
}
