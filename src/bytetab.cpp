// bytetab: converts one data file into a C header beside it, holding the
// file's bytes run-length encoded as one macro definition.
//
// Every outcome is one message on standard output, without a line break, and
// the exit status: 0 after "Done.", 1 after any failure.

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

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

// The macro name: the argument with a to z upper-cased, whatever the locale;
// every other byte is kept.
static std::string macroname(const char *arg)
{
    std::string name(arg);
    for (char &c : name)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return name;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::printf("Usage: bytetab.exe  [input file name]");
        return finish(1);
    }
    const char *arg = argv[1];
    std::error_code ec;

    // A directory opens for reading on POSIX systems but has no bytes; it is
    // refused here as Windows refuses it at the open.
    std::FILE *in = std::fopen(arg, "rb");
    if (!in || std::filesystem::is_directory(arg, ec)) {
        std::printf("Cannot open %s!", arg);
        return finish(1);
    }

    // Opening the header truncates it, so a header that is the input itself
    // (a link to it) is refused before it is opened.
    const std::string outname = std::string(arg) + ".h";
    std::FILE *out = nullptr;
    if (!std::filesystem::equivalent(arg, outname, ec))
        out = std::fopen(outname.c_str(), "w");
    if (!out) {
        std::printf("Cannot create %s!", outname.c_str());
        return finish(1);
    }

    beginheader(out, macroname(arg).c_str());
    encoderuns(in, out);
    endheader(out);

    // The header is closed before "Done." so that a failed write or flush is
    // still reported; an incomplete header is not left behind.
    const bool readfailed = std::ferror(in) != 0;
    bool writefailed = std::ferror(out) != 0;
    if (std::fclose(out) != 0)
        writefailed = true;
    if (readfailed || writefailed) {
        std::remove(outname.c_str());
        if (readfailed)
            std::printf("Cannot read %s!", arg);
        else
            std::printf("Cannot write %s!", outname.c_str());
        return finish(1);
    }
    std::fclose(in); // all its bytes were read; closing it can lose nothing
    std::printf("Done.");
    return finish(0);
}
