/* SPDX-License-Identifier: MIT */
/* A file that calls every function, built as C89 to C23 and as C++98 on with
   every warning a user may turn on: decode.h must bring none of its own.
   With -DBYTETAB_ASM, bytetab_decode is the declaration of the assembly one. */
#include "bytetab/decode.h"

static void ignore(void *context, unsigned char value, unsigned length)
{
    (void)context;
    (void)value;
    (void)length;
}

size_t decodeall(const unsigned char *tokens, size_t count, unsigned char *out, size_t capacity);
size_t decodeall(const unsigned char *tokens, size_t count, unsigned char *out, size_t capacity)
{
    struct bytetab_stream stream;
    size_t size = bytetab_decoded_size(tokens, count);
    if (size == BYTETAB_ERROR || bytetab_decode_runs(tokens, count, ignore, &stream) != 0)
        return BYTETAB_ERROR;
    bytetab_stream_init(&stream, tokens, count);
    if (bytetab_stream_read(&stream, out, capacity) != size)
        return BYTETAB_ERROR;
    return bytetab_decode(tokens, count, out, capacity);
}

#if defined(__cplusplus) && __cplusplus >= 201703L
static constexpr unsigned char logo[] = {0xC1, 0x02, 0x42};
static constexpr auto decoded = bytetab::decode<bytetab::decoded_size(logo)>(logo);
static_assert(decoded.size() == 4 && decoded[3] == 0x42, "AAAB");
#endif
