#include "runlength.hpp"

// One byte from the stream without taking its lock on every call: the
// encoder reads the whole input a byte at a time, on one thread.
static inline int readbyte(std::FILE *in)
{
#ifdef _WIN32
    return _getc_nolock(in);
#else
    return getc_unlocked(in);
#endif
}

// The next input value, with 255 taken as 0; EOF is passed through as is.
// Counts the bytes above 0x7F, which lose bit 7 in their token.
static inline int nextvalue(std::FILE *in, std::uint64_t &high)
{
    const int c = readbyte(in);
    high += c > 0x7F;
    return c == 0xFF ? 0 : c;
}

std::uint64_t encoderuns(std::FILE *in, writer &w)
{
    std::uint64_t high = 0;
    int count = 0; // bytes of the current run beyond its first, 0 to 255
    int current = nextvalue(in, high);
    while (current != EOF) {
        const int previous = current;
        current = nextvalue(in, high);
        // Runs are compared on the full 8-bit value, before bit 7 is
        // replaced, and are cut at 256 bytes.
        if (current == previous && count < 255) {
            ++count;
            continue;
        }
        // A run of one is the value with bit 7 clear; a longer run sets
        // bit 7 and adds its repeat count.
        outbyte(w, static_cast<unsigned char>(count > 0 ? previous | 0x80 : previous & 0x7F));
        if (count > 0)
            outbyte(w, static_cast<unsigned char>(count));
        count = 0;
    }
    return high;
}
