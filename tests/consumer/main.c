/* Decodes the tokens of sprite.h and compares them with the bytes of the file
   they came from (its path is the argument): each byte 255 taken as 0, and
   bit 7 cleared. */
#include <stdio.h>

#include "sprite.h"

static const unsigned char tokens[] = SPRITE;

int main(int argc, char **argv)
{
    FILE *f = argc == 2 ? fopen(argv[1], "rb") : NULL;
    size_t i, at = 0;
    if (!f) {
        puts("usage: consumer FILE");
        return 2;
    }
    for (i = 0; i < sizeof tokens; ++i) {
        unsigned char v = tokens[i] & 0x7F;
        unsigned n = (tokens[i] & 0x80) ? tokens[++i] + 1u : 1u;
        for (; n > 0; --n, ++at) {
            int c = getc(f);
            if (c == EOF || ((c == 255 ? 0 : c) & 0x7F) != v) {
                printf("differs at byte %lu\n", (unsigned long)at);
                return 1;
            }
        }
    }
    if (getc(f) != EOF) {
        printf("the tokens end at byte %lu, before the file\n", (unsigned long)at);
        return 1;
    }
    printf("%lu bytes decoded from %lu tokens\n", (unsigned long)at, (unsigned long)sizeof tokens);
    return 0;
}
