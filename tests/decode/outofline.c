/* SPDX-License-Identifier: MIT */
/* The decoder's functions as ordinary functions, defined in this one file:
   what a program links with under sdcc when it takes their addresses, since
   sdcc inlines every call and emits no copy of an inline function. */
#define BYTETAB_FUNCTION
#include "bytetab/decode.h"
