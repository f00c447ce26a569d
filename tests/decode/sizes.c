/* SPDX-License-Identifier: MIT */
/* Every function of the decoder, emitted out of line: a file that uses them
   all, and the one whose code sizes are measured. */
#include "bytetab/decode.h"

typedef void (*function)(void);

extern const function bytetab_functions[];
const function bytetab_functions[] = {
    (function)bytetab_decoded_size, (function)bytetab_decode,      (function)bytetab_decode_runs,
    (function)bytetab_stream_init,  (function)bytetab_stream_read,
};
