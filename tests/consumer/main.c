/* SPDX-License-Identifier: MIT */
/* Decodes the tokens of sprite_bin.h and sprite.h, both made from
   assets/sprite.bin, and of tiles_bin.h (compiled in tiles.c), made from
   assets/tiles.bin, and compares them with the bytes of those files (the
   argument is their folder): each byte 255 taken as 0, and bit 7 cleared.
   Each header's size macro must be the file's size. */
#include <stdio.h>

#include <bytetab/decode.h>

#include "sprite.h"
#include "sprite_bin.h"

extern const unsigned char tiletokens[];
extern const unsigned long tiletokencount;
extern unsigned char tiles[];
extern const unsigned long tilesize;
size_t decodetiles(void);

static const unsigned char by_file_name[] = SPRITE_BIN;
static const unsigned char by_name[] = SPRITE;
static unsigned char sprite[SPRITE_SIZE];

/* 0 when the tokens decode into out, which holds exactly `size` bytes, to
   the bytes of the file; else says why. */
static int check(const char *what, const unsigned char *tokens, size_t count, unsigned char *out, size_t size,
                 const char *dir, const char *file)
{
    char path[4096];
    FILE *f;
    size_t decoded = bytetab_decode(tokens, count, out, size), at;
    int c = EOF;
    sprintf(path, "%.4000s/%s", dir, file);
    f = fopen(path, "rb");
    if (!f) {
        printf("cannot open %s\n", path);
        return 1;
    }
    if (decoded != size || bytetab_decoded_size(tokens, count) != size) {
        printf("%s: the tokens do not decode into its size, %lu bytes\n", what, (unsigned long)size);
        fclose(f);
        return 1;
    }
    for (at = 0; at < size; ++at) {
        c = getc(f);
        if (c == EOF || ((c == 255 ? 0 : c) & 0x7F) != out[at])
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
        puts("usage: consumer ASSETS");
        return 2;
    }
    if (SPRITE_BIN_SIZE != SPRITE_SIZE || decodetiles() != tilesize) {
        puts("SPRITE_BIN_SIZE and SPRITE_SIZE differ, or the C90 part decodes TILES_BIN wrongly");
        return 1;
    }
    return check("SPRITE_BIN", by_file_name, sizeof by_file_name, sprite, sizeof sprite, argv[1], "sprite.bin") |
           check("SPRITE", by_name, sizeof by_name, sprite, sizeof sprite, argv[1], "sprite.bin") |
           check("TILES_BIN", tiletokens, tiletokencount, tiles, tilesize, argv[1], "tiles.bin");
}
