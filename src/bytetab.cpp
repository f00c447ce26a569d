// SPDX-License-Identifier: MIT
// bytetab: converts one data file into a C header beside it, holding the
// file's bytes run-length encoded as one macro definition.
//
// Every outcome is one message on standard output, without a line break, and
// the exit status: 0 after "Done.", 1 after any failure.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "files.hpp"
#include "headertext.hpp"
#include "runlength.hpp"

#ifdef __MINGW32__
// Windows passes wildcards to the program unexpanded; this makes the
// runtime's start-up expand them, as a POSIX shell would.
extern "C" {
int _dowildcard = -1;
}
#endif

// The run's one message has been printed: close standard output with a check,
// so that a message that could not be delivered never ends a run as success.
static int finish(int status)
{
    return std::fclose(stdout) == 0 ? status : 1;
}

static int usage()
{
    std::printf("Usage: bytetab.exe  [input file name]");
    return finish(1);
}

// The macro name, a C identifier made from the argument: a to z upper-cased
// whatever the locale, A to Z, 0 to 9 and _ kept, every other byte (dots,
// path separators, bytes above 127) made _, and a _ in front of a leading
// digit. A name that is an identifier already only changes case.
static std::string macroname(const char *arg)
{
    std::string name(arg);
    for (char &c : name)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (!(c >= 'A' && c <= 'Z') && !(c >= '0' && c <= '9'))
            c = '_';
    if (name[0] >= '0' && name[0] <= '9')
        name.insert(0, 1, '_');
    return name;
}

static int convert(int argc, char **argv)
{
    catchsignals();
    if (argc != 2)
        return usage();
    const char *arg = argv[1];
    std::FILE *in = openinput(arg);
    if (!in) {
        std::printf("Cannot open %s!", arg);
        return finish(1);
    }
    const std::string outname = std::string(arg) + ".h";
    std::FILE *out = createheader(outname.c_str(), in);
    if (!out) {
        std::printf("Cannot create %s!", outname.c_str());
        return finish(1);
    }

    static writer w; // 300 KiB, kept off the stack
    beginheader(w, out, macroname(arg).c_str());
    const std::uint64_t high = encoderuns(in, w);
    endheader(w);

    // The header is closed and put in place before "Done." so that a failed
    // write, flush or rename is still reported; an incomplete header is not
    // left behind.
    const bool readfailed = std::ferror(in) != 0;
    bool writefailed = std::ferror(out) != 0;
    if (std::fclose(out) != 0)
        writefailed = true;
    if (!readfailed && !writefailed && !placeheader())
        writefailed = true;
    if (readfailed || writefailed) {
        dropheader();
        if (readfailed)
            std::printf("Cannot read %s!", arg);
        else
            std::printf("Cannot write %s!", outname.c_str());
        return finish(1);
    }
    (void)std::fclose(in); // all its bytes were read; closing it can lose nothing
    std::printf("Done.");
    // The header holds what the tool can store; say what it could not. A
    // warning that cannot be delivered fails the run, as "Done." would.
    int status = 0;
    if (high > 0 &&
        std::fprintf(stderr, "bytetab: warning: %s: %s bytes above 0x7F were stored without bit 7 (0xFF as 0x00)\n",
                     arg, std::to_string(high).c_str()) < 0)
        status = 1;
    return finish(status);
}

#ifdef _WIN32
// The wide-character arguments, so that a name outside the ANSI code page
// reaches the tool; they go on as UTF-8, as on POSIX systems.
int wmain(int argc, wchar_t **wargv)
{
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i)
        args.push_back(utf8(wargv[i]));
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    return convert(argc, argv.data());
}
#else
int main(int argc, char **argv)
{
    return convert(argc, argv);
}
#endif
