/* Decodes the tokens of sprite_bin.h and sprite.h, both made from
   assets/sprite.bin, and compares them with the bytes of that file (its path
   is the argument): each byte 255 taken as 0, and bit 7 cleared. */
#include <stdio.h>

#include <bytetab/decode.h>

#include "sprite.h"
#include "sprite_bin.h"

static const unsigned char by_file_name[] = SPRITE_BIN;
static const unsigned char by_name[] = SPRITE;
static unsigned char sprite[4096];

/* 0 when the tokens decode to the file's bytes; else says why. */
static int check(const char *what, const unsigned char *tokens, size_t count, const char *path)
{
    FILE *f = fopen(path, "rb");
    size_t size = bytetab_decode(tokens, count, sprite, sizeof sprite), at;
    int c = EOF;
    if (!f) {
        printf("cannot open %s\n", path);
        return 1;
    }
    if (size == BYTETAB_ERROR || size != bytetab_decoded_size(tokens, count)) {
        printf("%s: the tokens do not decode\n", what);
        fclose(f);
        return 1;
    }
    for (at = 0; at < size; ++at) {
        c = getc(f);
        if (c == EOF || ((c == 255 ? 0 : c) & 0x7F) != sprite[at])
            break;
    }
    if (at == size)
        c = getc(f);
    fclose(f);
    if (at < size || c != EOF) {
        printf("%s: differs at byte %lu\n", what, (unsigned long)at);
        return 1;
    }
    printf("%s: %lu bytes decoded from %lu tokens\n", what, (unsigned long)size, (unsigned long)count);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        puts("usage: consumer FILE");
        return 2;
    }
    return check("SPRITE_BIN", by_file_name, sizeof by_file_name, argv[1]) |
           check("SPRITE", by_name, sizeof by_name, argv[1]);
}
