/* SPDX-License-Identifier: MIT */
/* A file that uses one function only, its tokens read through a function of
   its own as from program memory: the others must not warn. */
static unsigned char readflash(const unsigned char *p)
{
    return *p;
}
#define BYTETAB_READ(p) readflash(p)
#include "bytetab/decode.h"

size_t drawlogo(unsigned char *screen, size_t size);
size_t drawlogo(unsigned char *screen, size_t size)
{
    static const unsigned char logo[] = {0xC1, 0x02, 0x42};
    return bytetab_decode(logo, sizeof logo, screen, size);
}
