#ifndef BYTETAB_HEADERTEXT_HPP
#define BYTETAB_HEADERTEXT_HPP

#include <cstdio>

/* The header is one macro definition, twelve items a line:

     #define NAME { \
     0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, \
     0x0C, 0x0D,   }

   Call beginheader once, outbyte once per token byte, endheader once. Items
   are gathered in a block owned by the writer and handed to the stream whole;
   endheader hands over the rest. Write failures are left in the stream's error
   indicator for the caller to test with ferror (and fclose). */
void beginheader(std::FILE *out, const char *name);
void outbyte(std::FILE *out, unsigned char byte);
void endheader(std::FILE *out);

#endif
