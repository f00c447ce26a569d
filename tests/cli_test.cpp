// The built tool end to end: files, standard output, standard error and the
// exit status, each case in a directory of its own.
//
// By default the cases run the native build. BYTETAB_CMD replaces the command
// that runs the tool (for instance "wine build/windows/bytetab.exe"), and
// BYTETAB_TARGET=windows expects the Windows build: headers with CR LF line
// ends, and only the cases that make sense there.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>

#include "headercheck.hpp"
#include "mixedruns.hpp"

namespace fs = std::filesystem;

static std::string readfile(const fs::path &p)
{
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

static void writefile(const fs::path &p, const std::string &data)
{
    std::ofstream(p, std::ios::binary) << data;
}

static const bool windows = [] {
    const char *t = std::getenv("BYTETAB_TARGET");
    return t && std::string(t) == "windows";
}();
static const std::string eol = windows ? "\r\n" : "\n";

// The command that runs the tool, split at blanks.
static std::vector<std::string> toolcommand()
{
    const char *cmd = std::getenv("BYTETAB_CMD");
    std::vector<std::string> words;
    std::istringstream in(cmd ? cmd : BYTETAB_EXE);
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

struct outcome {
    int status;
    std::string out, err;
};

// Runs the tool with `args` in `dir`, optionally under a file size limit
// (with SIGXFSZ ignored, so that an oversized write fails instead) or with
// standard output on a full device.
static outcome run(const fs::path &dir, const std::vector<std::string> &args, rlim_t fsize, bool fullstdout)
{
    const fs::path out = fullstdout ? "/dev/full" : dir.parent_path() / "stdout";
    const fs::path err = dir.parent_path() / "stderr";
    std::vector<std::string> cmd = toolcommand();
    cmd.insert(cmd.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &a : cmd)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int i = open("/dev/null", O_RDONLY);
        if (o < 0 || e < 0 || i < 0 || dup2(i, 0) < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 ||
            chdir(dir.c_str()) != 0)
            _exit(126);
        if (fsize) {
            const rlimit lim{fsize, fsize};
            signal(SIGXFSZ, SIG_IGN);
            if (setrlimit(RLIMIT_FSIZE, &lim) != 0)
                _exit(126);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = -1;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, fullstdout ? "" : readfile(out), readfile(err)};
}

static const std::string logo = "AAAB";
// A header of one line of items (fewer than twelve).
static std::string header(const std::string &name, const std::string &items)
{
    return "#define " + name + " { \\" + eol + items + "  } " + eol;
}

static std::string logoheader(const std::string &name = "LOGO.BIN")
{
    return header(name, "0xC1, 0x02, 0x42, ");
}

// A path of about 3,000 bytes, through directories of 200-byte names.
static const std::string longpath = [] {
    std::string p;
    for (int i = 0; i < 15; ++i)
        p += std::string(200, static_cast<char>('a' + i)) + "/";
    return p + "deep.bin";
}();

static std::string upper(std::string s)
{
    for (char &c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

static const bytes mixed = mixedruns(3, 5 << 20);
static const std::string mixedtext(mixed.begin(), mixed.end());

struct clicase {
    const char *name;
    std::function<void(const fs::path &)> setup; // makes the files the case starts with
    std::vector<std::string> args;
    std::string out;
    int status;
    // Files after the run: their content, or nullopt for a file that must not exist.
    std::map<std::string, std::optional<std::string>> files;
    rlim_t fsize = 0;
    std::function<void(const fs::path &)> check = nullptr; // more to check after the run
    bool posix = true, win = true;                         // where the case runs
    const char *why = "";                                  // why it runs on one only
    bool fullstdout = false;                               // standard output on /dev/full
};

static clicase posixonly(const char *why, clicase c)
{
    c.win = false;
    c.why = why;
    return c;
}

// The conversion succeeds but "Done." cannot be delivered.
static clicase undelivered(clicase c)
{
    c.fullstdout = true;
    return posixonly("/dev/full is POSIX", c);
}

static clicase windowsonly(const char *why, clicase c)
{
    c.posix = false;
    c.why = why;
    return c;
}

static void none(const fs::path &) {}
static auto file(const std::string &name, const std::string &data = logo)
{
    return [=](const fs::path &d) {
        fs::create_directories((d / name).parent_path());
        writefile(d / name, data);
    };
}

static const clicase cases[] = {
    {"no argument", none, {}, "Usage: bytetab.exe  [input file name]", 1, {}},
    {"two arguments", file("a"), {"a", "a"}, "Usage: bytetab.exe  [input file name]", 1, {{"a.h", std::nullopt}}},
    {"missing input", none, {"nothere.bin"}, "Cannot open nothere.bin!", 1, {{"nothere.bin.h", std::nullopt}}},
    {"directory input", [](const fs::path &d) { fs::create_directory(d / "sub"); },
     {"sub"}, "Cannot open sub!", 1, {{"sub.h", std::nullopt}}},
    {"converts", file("logo.bin"), {"logo.bin"}, "Done.", 0, {{"logo.bin.h", logoheader()}, {"logo.bin", logo}}},
    {"keeps the name's case", file("Data.Bin", "\x0a"), {"Data.Bin"}, "Done.", 0,
     {{"Data.Bin.h", header("DATA.BIN", "0x0A, ")}}},
    {"directory part", file("res/font.raw", ""), {"res/font.raw"}, "Done.", 0,
     {{"res/font.raw.h", header("RES/FONT.RAW", "")}}},
    {"truncates an old header", [](const fs::path &d) {
         file("logo.bin")(d);
         writefile(d / "logo.bin.h", std::string(5000, 'x'));
     }, {"logo.bin"}, "Done.", 0, {{"logo.bin.h", logoheader()}}},
    {"header cannot be created", [](const fs::path &d) {
         file("x")(d);
         fs::create_directory(d / "x.h");
     }, {"x"}, "Cannot create x.h!", 1, {}},
    posixonly("file size limits are POSIX", {"write fails at the size limit", file("big", mixedtext),
     {"big"}, "Cannot write big.h!", 1, {{"big.h", std::nullopt}}, 100000}),
    posixonly("/dev/full is POSIX", {"write fails on a full device", [](const fs::path &d) {
         file("x")(d);
         fs::create_symlink("/dev/full", d / "x.h");
     }, {"x"}, "Cannot write x.h!", 1, {{"x.h", std::nullopt}}}),
    undelivered({"message cannot be written", file("logo.bin"), {"logo.bin"}, "", 1, {{"logo.bin.h", logoheader()}}}),
    posixonly("/proc/self/mem is Linux", {"read fails", [](const fs::path &d) {
         fs::create_symlink("/proc/self/mem", d / "mem");
     }, {"mem"}, "Cannot read mem!", 1, {{"mem.h", std::nullopt}}}),
    posixonly("POSIX links", {"header is a hard link to the input", [](const fs::path &d) {
         file("in.bin")(d);
         fs::create_hard_link(d / "in.bin", d / "in.bin.h");
     }, {"in.bin"}, "Cannot create in.bin.h!", 1, {{"in.bin", logo}, {"in.bin.h", logo}}}),
    {"format text in the name", file("a%s%n%x"), {"a%s%n%x"}, "Done.", 0, {{"a%s%n%x.h", logoheader("A%S%N%X")}}},
    {"format text in a missing name", none, {"%s%n%x"}, "Cannot open %s%n%x!", 1, {}},
    posixonly("Windows paths end at 260 characters", {"long path", file(longpath), {longpath}, "Done.", 0,
     {{longpath + ".h", logoheader(upper(longpath))}}}),
    posixonly("Wine passes names through a code page", {"bytes above 127 in the name",
     file("\xC3\xA9t\xE9.bin"), {"\xC3\xA9t\xE9.bin"}, "Done.", 0,
     {{"\xC3\xA9t\xE9.bin.h", logoheader("\xC3\xA9T\xE9.BIN")}}}),
    {"name starting with a dash", file("-n"), {"-n"}, "Done.", 0, {{"-n.h", logoheader("-N")}}},
    {"empty name", none, {""}, "Cannot open !", 1, {}},
    {"megabytes of mixed runs", file("mixed", mixedtext), {"mixed"}, "Done.", 0, {}, 0,
     [](const fs::path &d) {
         const std::string text = readfile(d / "mixed.h");
         bytes tokens;
         ASSERT_EQ(parseheader(text, "MIXED", tokens, eol), "");
         EXPECT_EQ(checktokens(mixed, tokens), "");
     }},
    posixonly("POSIX links", {"header is a symbolic link to the input", [](const fs::path &d) {
         file("in.bin")(d);
         fs::create_symlink("in.bin", d / "in.bin.h");
     }, {"in.bin"}, "Cannot create in.bin.h!", 1, {{"in.bin", logo}}}),
    windowsonly("a POSIX shell expands wildcards, not the tool", {"wildcard matching one file",
     file("logo.bin"), {"lo*.bin"}, "Done.", 0, {{"logo.bin.h", logoheader()}}}),
    windowsonly("a POSIX shell expands wildcards, not the tool", {"wildcard matching two files",
     [](const fs::path &d) {
         file("a.bin")(d);
         file("b.bin")(d);
     }, {"*.bin"}, "Usage: bytetab.exe  [input file name]", 1, {{"a.bin.h", std::nullopt}}}),
};

static void PrintTo(const clicase &c, std::ostream *os)
{
    *os << c.name;
}

class Cli : public testing::TestWithParam<clicase> {};

TEST_P(Cli, Runs)
{
    const clicase &c = GetParam();
    if (!(windows ? c.win : c.posix))
        GTEST_SKIP() << "runs only on " << (windows ? "POSIX" : "Windows") << ": " << c.why;
    const fs::path root = fs::temp_directory_path() / ("bytetab-" + std::to_string(getpid()) + "-" +
                                                      testing::UnitTest::GetInstance()->current_test_info()->name());
    const fs::path dir = root / "work";
    fs::remove_all(root);
    fs::create_directories(dir);
    c.setup(dir);
    const auto before = std::distance(fs::directory_iterator(dir), {});

    const outcome r = run(dir, c.args, c.fsize, c.fullstdout);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, c.status);
    for (const auto &[name, content] : c.files) {
        EXPECT_EQ(fs::exists(fs::symlink_status(dir / name)), content.has_value()) << name;
        if (content) {
            EXPECT_EQ(readfile(dir / name), *content) << name;
        }
    }
    if (c.check)
        c.check(dir);
    // A failed conversion leaves no new file behind.
    if (c.status != 0 && !c.fullstdout) {
        EXPECT_LE(std::distance(fs::directory_iterator(dir), {}), before) << "files left behind";
    }
    fs::remove_all(root);
}

INSTANTIATE_TEST_SUITE_P(, Cli, testing::ValuesIn(cases), [](const auto &info) {
    std::string n = info.param.name;
    for (char &ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return n;
});
