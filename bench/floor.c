/* SPDX-License-Identifier: MIT */
/* The least any converter of a file into a header must do, as bench/run's
   yardstick: read the input to its end with fread in blocks of 256 KiB, write
   as many bytes as the header holds with fwrite in blocks of 256 KiB to a
   temporary file beside the output, and rename that into place.

     floor IN OUT BYTES

   Every call that can fail is checked: a floor that silently did less would
   flatter nothing but itself. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Aligned to 64 bytes, where the kernel copies fastest. */
static _Alignas(64) unsigned char block[256 << 10];

static int fail(const char *what, const char *name)
{
    fprintf(stderr, "floor: %s %s: %s\n", what, name, strerror(errno));
    return 1;
}

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: floor IN OUT BYTES\n");
        return 2;
    }
    FILE *in = fopen(argv[1], "rb");
    if (!in)
        return fail("cannot open", argv[1]);
    while (fread(block, 1, sizeof block, in) == sizeof block)
        ;
    if (ferror(in))
        return fail("cannot read", argv[1]);
    fclose(in);

    const size_t length = strlen(argv[2]);
    char *temp = malloc(length + sizeof ".floor");
    if (!temp)
        return fail("out of memory for", argv[2]);
    memcpy(temp, argv[2], length);
    memcpy(temp + length, ".floor", sizeof ".floor");
    FILE *out = fopen(temp, "w");
    if (!out)
        return fail("cannot create", temp);
    for (unsigned long long left = strtoull(argv[3], NULL, 10); left > 0;) {
        const size_t n = left < sizeof block ? (size_t)left : sizeof block;
        if (fwrite(block, 1, n, out) != n)
            return fail("cannot write", temp);
        left -= n;
    }
    if (fclose(out) != 0)
        return fail("cannot write", temp);
    if (rename(temp, argv[2]) != 0)
        return fail("cannot rename", temp);
    free(temp);
    return 0;
}
