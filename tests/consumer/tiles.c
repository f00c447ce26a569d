/* SPDX-License-Identifier: MIT */
/* Compiled as C90: the size that the helper adds is a constant that sizes
   an array. The tokens and the array are decoded and checked in main.c. */
#include "tiles_bin.h"

const unsigned char tiletokens[] = TILES_BIN;
const unsigned long tiletokencount = sizeof tiletokens;
unsigned char tiles[TILES_BIN_SIZE];
const unsigned long tilesize = sizeof tiles;
