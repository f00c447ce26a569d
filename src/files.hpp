#ifndef BYTETAB_FILES_HPP
#define BYTETAB_FILES_HPP

#include <cstdio>

/* Opening the input and the header, and making sure that no incomplete
   header is left behind. Names are byte strings, UTF-8 on Windows, where
   they are handed to the wide-character API. Nothing here prints: each call
   reports its outcome to the driver.

   The header is created or opened without truncating it, compared with the
   open input, and only then truncated, so a header that is the input itself
   (a link to it) is refused without a byte of the input being lost. From
   then on, until keepheader or removeheader, an interruption (SIGINT, SIGTERM
   or SIGHUP; on Windows Ctrl-C, Ctrl-Break or closing the console) removes
   the header before the process ends by it. */

// The input, for reading in binary mode; nullptr if it can't be opened or is
// a directory.
std::FILE *openinput(const char *name);

// The header `name`, for writing in text mode, empty; nullptr if it can't be
// created or is the input itself. `name` must stay valid until keepheader or
// removeheader.
std::FILE *createheader(const char *name, std::FILE *in);

// The header is complete and closed: an interruption no longer removes it.
void keepheader();

// Removes the incomplete, closed header, or empties it where it cannot be
// removed. Returns false if neither worked.
bool removeheader(const char *name);

#ifdef _WIN32
#include <string>

// A wide-character argument as UTF-8.
std::string utf8(const wchar_t *s);
#endif

#endif
