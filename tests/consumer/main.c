/* Decodes the tokens of sprite.bin.h with the installed decoder and compares
   them with the bytes of the file they came from (its path is the argument):
   each byte 255 taken as 0, and bit 7 cleared. */
#include <stdio.h>

#include <bytetab/decode.h>

#include "sprite.bin.h"

static const unsigned char tokens[] = SPRITE_BIN;
static unsigned char sprite[4096];

int main(int argc, char **argv)
{
    FILE *f = argc == 2 ? fopen(argv[1], "rb") : NULL;
    size_t size = bytetab_decode(tokens, sizeof tokens, sprite, sizeof sprite), at;
    if (!f) {
        puts("usage: consumer FILE");
        return 2;
    }
    if (size == BYTETAB_ERROR || size != bytetab_decoded_size(tokens, sizeof tokens)) {
        puts("the tokens do not decode");
        return 1;
    }
    for (at = 0; at < size; ++at) {
        int c = getc(f);
        if (c == EOF || ((c == 255 ? 0 : c) & 0x7F) != sprite[at]) {
            printf("differs at byte %lu\n", (unsigned long)at);
            return 1;
        }
    }
    if (getc(f) != EOF) {
        printf("the tokens end at byte %lu, before the file\n", (unsigned long)at);
        return 1;
    }
    printf("%lu bytes decoded from %lu tokens\n", (unsigned long)size, (unsigned long)sizeof tokens);
    return 0;
}
