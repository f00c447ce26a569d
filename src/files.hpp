// SPDX-License-Identifier: MIT
#ifndef BYTETAB_FILES_HPP
#define BYTETAB_FILES_HPP

#include <cstdio>

/* Opening the input and the header, and putting the header in place, with
   files_posix.cpp and files_windows.cpp behind one interface. Names are byte
   strings, UTF-8 on Windows, where they are handed to the wide-character
   API. Nothing here prints: each call reports its outcome to the driver.

   The header is written under a temporary name, ".bytetab-" and random
   characters, in the header's own folder, and renamed over the header name
   once it is complete and closed. So the input is never opened for writing,
   whatever links or mounts stand between the names; no reader sees a partial
   header; and a failure or an interruption removes only the temporary file,
   leaving the header name as it was. A link at the header name is replaced,
   not written through.

   Two kinds of header are written in place instead. A name that leads to
   something other than a regular file (a FIFO, a device) is written as it is
   and never removed. An existing regular file whose folder forbids the
   temporary file by its permissions or flags (read-only, append-only,
   immutable, or sticky and another user's file) is truncated and rewritten
   as before: a failure or an interruption then removes it, or empties it
   where it can't be removed.

   On POSIX systems a replaced regular file's permission bits are kept, and
   its owner and group where the process may set them; a new header gets a
   new file's mode.

   Refused, with the header name left as it was: a header that is the input
   itself (a link to it), an existing header that the user may not write, a
   name longer than the folder takes, a missing header (or a link to nothing)
   in a folder that forbids the temporary file, and any other failure to make
   the temporary file or to take what the cleanup will need. */

// Called first: a failed write is then an error to report, not the end of the
// process (SIGPIPE and SIGXFSZ are ignored), and an interruption cleans up as
// a failure does before the process ends by it: any signal that ends the
// process by default and can come from outside (SIGHUP, SIGINT, SIGQUIT,
// SIGTERM, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR,
// SIGSTKFLT, SIGXCPU and the real-time signals, where defined), and on
// Windows Ctrl-C, Ctrl-Break, closing the console, logging off or shutting
// down. A signal ignored when the tool started stays ignored.
void catchsignals();

// The input, for reading in binary mode; nullptr if it can't be opened or is
// a directory.
std::FILE *openinput(const char *name);

// The header `name`, to be written in text mode from its start; nullptr if it
// can't be created, is the input itself or may not be written.
std::FILE *createheader(const char *name, std::FILE *in);

// The header is complete and its stream closed: puts it in place under its
// name. False if that fails; the header is then to be dropped.
bool placeheader();

// The header is incomplete and its stream closed: removes the temporary file,
// or a header written in place, or empties that where it can't be removed.
void dropheader();

#ifdef _WIN32
#include <string>

// A wide-character argument as UTF-8.
std::string utf8(const wchar_t *s);
#endif

#endif
