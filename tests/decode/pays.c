/* SPDX-License-Identifier: MIT */
/* A file that draws a logo, compiled without the decoder, with its include
   alone (-DBYTETAB_INCLUDE) and calling bytetab_decode (-DBYTETAB_CALL as
   well): what a file pays for the decoder, measured by codesize.cmake. */
#include <stddef.h>
#ifdef BYTETAB_INCLUDE
#include "bytetab/decode.h"
#endif

size_t drawlogo(unsigned char *screen, size_t size);
size_t drawlogo(unsigned char *screen, size_t size)
{
    static const unsigned char logo[] = {0xC1, 0x02, 0x42};
#ifdef BYTETAB_CALL
    return bytetab_decode(logo, sizeof logo, screen, size);
#else
    return size < sizeof logo ? 0 : (screen[0] = logo[0], 1);
#endif
}
