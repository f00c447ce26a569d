/* SPDX-License-Identifier: MIT */
/* Compiled as C90: the size that the helper adds is a constant that sizes
   an array, and the decoder builds. The tokens and the array are checked in
   main.c. */
#include <bytetab/decode.h>

#include "tiles_bin.h"

const unsigned char tiletokens[] = TILES_BIN;
const unsigned long tiletokencount = sizeof tiletokens;
unsigned char tiles[TILES_BIN_SIZE];
const unsigned long tilesize = sizeof tiles;

size_t decodetiles(void);
size_t decodetiles(void)
{
    return bytetab_decode(tiletokens, sizeof tiletokens, tiles, sizeof tiles);
}
