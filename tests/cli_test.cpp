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
#ifdef __linux__
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
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

// The command that runs the tool: BYTETAB_EXE (the built tool by default),
// run by BYTETAB_RUNNER when that is set (for instance the path of wine).
// Each is one word, which may hold blanks.
static std::vector<std::string> toolcommand()
{
    std::vector<std::string> cmd;
    const char *runner = std::getenv("BYTETAB_RUNNER");
    if (runner && *runner)
        cmd.emplace_back(runner);
    const char *exe = std::getenv("BYTETAB_EXE");
    cmd.emplace_back(exe && *exe ? exe : BYTETAB_EXE);
    return cmd;
}

// How the tool is started: under a file size limit (with SIGXFSZ ignored,
// so that an oversized write fails instead), with standard output on a full
// device, with a signal ignored.
struct startup {
    rlim_t fsize = 0;
    bool fullstdout = false;
    int ignored = 0;
};

// Starts the tool with `args` in `dir`, its output in files beside `dir`.
static pid_t start(const fs::path &dir, const std::vector<std::string> &args, const startup &how)
{
    const fs::path out = how.fullstdout ? "/dev/full" : dir.parent_path() / "stdout";
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
        if (o < 0 || e < 0 || i < 0 || dup2(i, 0) < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 || chdir(dir.c_str()) != 0)
            _exit(126);
        if (how.fsize) {
            const rlimit lim{how.fsize, how.fsize};
            signal(SIGXFSZ, SIG_IGN);
            if (setrlimit(RLIMIT_FSIZE, &lim) != 0)
                _exit(126);
        }
        if (how.ignored)
            signal(how.ignored, SIG_IGN);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

struct outcome {
    int status; // the exit status, or -1 when ended by a signal
    int signal; // the signal that ended it, or 0
    std::string out, err;
};

static outcome wait(pid_t pid, const fs::path &dir, const startup &how)
{
    int status = -1;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, WIFSIGNALED(status) ? WTERMSIG(status) : 0,
            how.fullstdout ? "" : readfile(dir.parent_path() / "stdout"), readfile(dir.parent_path() / "stderr")};
}

// A fresh, empty directory for the current test, inside one of its own.
static fs::path workdir()
{
    const fs::path root = fs::temp_directory_path() / ("bytetab-" + std::to_string(getpid()) + "-" +
                                                       testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "work");
    return root / "work";
}

static const std::string logo = "AAAB";
// A header of one line of items (fewer than twelve).
static std::string header(const std::string &name, const std::string &items)
{
    return "#define " + name + " { \\" + eol + items + "  } " + eol;
}

static std::string logoheader(const std::string &name = "LOGO_BIN")
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

static const bytes mixed = mixedruns(3, 5 << 20);
static const std::string mixedtext(mixed.begin(), mixed.end());

// Its macro name: letters upper-cased, the slashes and the dot made _.
static const std::string longmacro = [] {
    std::string m = longpath;
    for (char &c : m)
        c = c == '/' || c == '.' ? '_' : static_cast<char>(c - 'a' + 'A');
    return m;
}();

static const std::string highwarning = [] {
    const auto high = std::count_if(mixed.begin(), mixed.end(), [](unsigned char b) { return b > 0x7F; });
    return "bytetab: warning: mixed: " + std::to_string(high) +
           " bytes above 0x7F were stored without bit 7 (0xFF as 0x00)" + eol;
}();

struct clicase {
    const char *name;
    std::function<void(const fs::path &)> setup; // makes the files the case starts with
    std::vector<std::string> args;
    std::string out;
    int status;
    // Files after the run: their content, or nullopt for a file that must not exist.
    std::map<std::string, std::optional<std::string>> files;
    startup how = {};
    std::function<void(const fs::path &)> check = nullptr; // more to check after the run
    const char *only = nullptr; // "POSIX", "Linux" or "Windows": where the case runs, if not everywhere
    const char *why = "";       // and why
    std::string err = "";       // standard error
};

static clicase warns(const std::string &err, clicase c)
{
    c.err = err;
    return c;
}

static clicase only(const char *where, const char *why, clicase c)
{
    c.only = where;
    c.why = why;
    return c;
}

static bool runshere(const clicase &c)
{
    if (!c.only)
        return true;
    const std::string where = c.only;
    if (windows)
        return where == "Windows";
#ifdef __linux__
    return where == "POSIX" || where == "Linux";
#else
    return where == "POSIX";
#endif
}

// The conversion succeeds but "Done." cannot be delivered.
static clicase undelivered(clicase c)
{
    c.how.fullstdout = true;
    return only("Linux", "/dev/full is Linux", c);
}

static void none(const fs::path &) {}

static void symlink(const fs::path &to, const fs::path &link)
{
    fs::create_symlink(to.filename(), link);
}

#ifdef __linux__
// A directory `name` made by `fill`, then made append-only: files in it can
// be created and written but not removed. Without `fill`, the flag is taken
// off again, so that the directory can go. Skips the case where the flag
// can't be set (it needs CAP_LINUX_IMMUTABLE).
static std::function<void(const fs::path &)> appendonly(const std::string &name, void (*fill)(const fs::path &))
{
    return [=](const fs::path &d) {
        if (fill) {
            fs::create_directory(d / name);
            fill(d / name);
        }
        const int fd = open((d / name).c_str(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        bool set = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = fill ? flags | FS_APPEND_FL : flags & ~FS_APPEND_FL;
        set = set && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0)
            close(fd);
        if (!set && fill)
            GTEST_SKIP() << "cannot make " << name << " append-only";
    };
}
#endif

// An input and a header that is a link to it, made by `make(input, header)`.
static auto link(const std::string &name, void (*make)(const fs::path &, const fs::path &))
{
    return [=](const fs::path &d) {
        writefile(d / name, logo);
        make(d / name, d / (name + ".h"));
    };
}
static auto file(const std::string &name, const std::string &data = logo)
{
    return [=](const fs::path &d) {
        fs::create_directories((d / name).parent_path());
        writefile(d / name, data);
    };
}

// One row a case, laid out by hand.
// clang-format off
static const clicase cases[] = {
    {"no argument", none, {}, "Usage: bytetab.exe  [input file name]", 1, {}},
    {"two arguments", file("a"), {"a", "a"}, "Usage: bytetab.exe  [input file name]", 1, {{"a.h", std::nullopt}}},
    {"missing input", none, {"nothere.bin"}, "Cannot open nothere.bin!", 1, {{"nothere.bin.h", std::nullopt}}},
    {"directory input", [](const fs::path &d) { fs::create_directory(d / "sub"); },
     {"sub"}, "Cannot open sub!", 1, {{"sub.h", std::nullopt}}},
    {"converts", file("logo.bin"), {"logo.bin"}, "Done.", 0, {{"logo.bin.h", logoheader()}, {"logo.bin", logo}}},
    {"keeps the name's case", file("Data.Bin", "\x0a"), {"Data.Bin"}, "Done.", 0,
     {{"Data.Bin.h", header("DATA_BIN", "0x0A, ")}}},
    {"directory part", file("res/font.raw", ""), {"res/font.raw"}, "Done.", 0,
     {{"res/font.raw.h", header("RES_FONT_RAW", "")}}},
    only("Windows", "a backslash separates directories only on Windows", {"directory part with a backslash",
     file("res/font.raw", ""), {"res\\font.raw"}, "Done.", 0, {{"res/font.raw.h", header("RES_FONT_RAW", "")}}}),
    {"name with a dash", file("my-sprite"), {"my-sprite"}, "Done.", 0, {{"my-sprite.h", logoheader("MY_SPRITE")}}},
    {"name starting with a digit", file("1.bin"), {"1.bin"}, "Done.", 0, {{"1.bin.h", logoheader("_1_BIN")}}},
    {"identifier name", file("sprite_2"), {"sprite_2"}, "Done.", 0, {{"sprite_2.h", logoheader("SPRITE_2")}}},
    warns("bytetab: warning: hi.bin: 4 bytes above 0x7F were stored without bit 7 (0xFF as 0x00)" + eol,
     {"bytes above 0x7F", file("hi.bin", "\x80\xFF\x41\xC1\xFE"), {"hi.bin"}, "Done.", 0,
     {{"hi.bin.h", header("HI_BIN", "0x00, 0x00, 0x41, 0x41, 0x7E, ")}}}),
    {"truncates an old header", [](const fs::path &d) {
         file("logo.bin")(d);
         writefile(d / "logo.bin.h", std::string(5000, 'x'));
     }, {"logo.bin"}, "Done.", 0, {{"logo.bin.h", logoheader()}}},
    {"header cannot be created", [](const fs::path &d) {
         file("x")(d);
         fs::create_directory(d / "x.h");
     }, {"x"}, "Cannot create x.h!", 1, {}},
    only("POSIX", "file size limits are POSIX", {"write fails at the size limit", file("big", mixedtext),
     {"big"}, "Cannot write big.h!", 1, {{"big.h", std::nullopt}}, {100000}}),
#ifdef __linux__
    only("Linux", "append-only directories (chattr +a) are Linux's", {"header can only be emptied",
     appendonly("ao", [](const fs::path &d) {
         writefile(d / "big", mixedtext);
         writefile(d / "big.h", "an old header");
     }), {"ao/big"}, "Cannot write ao/big.h!", 1, {{"ao/big.h", ""}}, {100000}, appendonly("ao", nullptr)}),
#endif
    only("Linux", "/dev/full is Linux", {"write fails on a full device", [](const fs::path &d) {
         file("x")(d);
         fs::create_symlink("/dev/full", d / "x.h");
     }, {"x"}, "Cannot write x.h!", 1, {{"x.h", std::nullopt}}}),
    undelivered({"message cannot be written", file("logo.bin"), {"logo.bin"}, "", 1, {{"logo.bin.h", logoheader()}}}),
    only("Linux", "/proc/self/mem is Linux", {"read fails", [](const fs::path &d) {
         fs::create_symlink("/proc/self/mem", d / "mem");
     }, {"mem"}, "Cannot read mem!", 1, {{"mem.h", std::nullopt}}}),
    // Links made from this side: under Wine, the tool sees them as Windows
    // would see links of its own file system.
    {"header is a hard link to the input", link("in.bin", fs::create_hard_link),
     {"in.bin"}, "Cannot create in.bin.h!", 1, {{"in.bin", logo}, {"in.bin.h", logo}}},
    {"header is a hard link to a euro input", link("\u20AC.bin", fs::create_hard_link),
     {"\u20AC.bin"}, "Cannot create \u20AC.bin.h!", 1, {{"\u20AC.bin", logo}, {"\u20AC.bin.h", logo}}},
    {"header is a hard link to an accented input", link("\u00E9t\u00E9.bin", fs::create_hard_link),
     {"\u00E9t\u00E9.bin"}, "Cannot create \u00E9t\u00E9.bin.h!", 1, {{"\u00E9t\u00E9.bin", logo}}},
    {"header is a hard link to a Cyrillic input", link("\u0436.bin", fs::create_hard_link),
     {"\u0436.bin"}, "Cannot create \u0436.bin.h!", 1, {{"\u0436.bin", logo}}},
    {"header is a symbolic link to the input", link("in.bin", symlink),
     {"in.bin"}, "Cannot create in.bin.h!", 1, {{"in.bin", logo}}},
    // Names outside the ANSI code page of Windows.
    {"euro name", file("\u20AC.bin"), {"\u20AC.bin"}, "Done.", 0, {{"\u20AC.bin.h", logoheader("____BIN")}}},
    {"accented name", file("\u00E9t\u00E9.bin"), {"\u00E9t\u00E9.bin"}, "Done.", 0,
     {{"\u00E9t\u00E9.bin.h", logoheader("__T___BIN")}}},
    {"Cyrillic name", file("\u0436.bin"), {"\u0436.bin"}, "Done.", 0, {{"\u0436.bin.h", logoheader("___BIN")}}},
    {"Cyrillic name missing", none, {"\u0436.bin"}, "Cannot open \u0436.bin!", 1, {}},
    {"format text in the name", file("a%s%n%x"), {"a%s%n%x"}, "Done.", 0, {{"a%s%n%x.h", logoheader("A_S_N_X")}}},
    {"format text in a missing name", none, {"%s%n%x"}, "Cannot open %s%n%x!", 1, {}},
    only("POSIX", "Windows paths end at 260 characters", {"long path", file(longpath), {longpath}, "Done.", 0,
     {{longpath + ".h", logoheader(longmacro)}}}),
    only("POSIX", "a Windows name is UTF-16, and these bytes are no UTF-8", {"bytes above 127 in the name",
     file("\xC3\xA9t\xE9.bin"), {"\xC3\xA9t\xE9.bin"}, "Done.", 0,
     {{"\xC3\xA9t\xE9.bin.h", logoheader("__T__BIN")}}}),
    {"name starting with a dash", file("-n"), {"-n"}, "Done.", 0, {{"-n.h", logoheader("_N")}}},
    {"empty name", none, {""}, "Cannot open !", 1, {}},
    warns(highwarning, {"megabytes of mixed runs", file("mixed", mixedtext), {"mixed"}, "Done.", 0, {}, {},
     [](const fs::path &d) {
         const std::string text = readfile(d / "mixed.h");
         bytes tokens;
         ASSERT_EQ(parseheader(text, "MIXED", tokens, eol), "");
         EXPECT_EQ(checktokens(mixed, tokens), "");
     }}),
    only("Windows", "a POSIX shell expands wildcards, not the tool", {"wildcard matching one file",
     file("logo.bin"), {"lo*.bin"}, "Done.", 0, {{"logo.bin.h", logoheader()}}}),
    only("Windows", "a POSIX shell expands wildcards, not the tool", {"wildcard matching two files",
     [](const fs::path &d) {
         file("a.bin")(d);
         file("b.bin")(d);
     }, {"*.bin"}, "Usage: bytetab.exe  [input file name]", 1, {{"a.bin.h", std::nullopt}}}),
};
// clang-format on

static void PrintTo(const clicase &c, std::ostream *os)
{
    *os << c.name;
}

class Cli : public testing::TestWithParam<clicase> {};

TEST_P(Cli, Runs)
{
    const clicase &c = GetParam();
    if (!runshere(c))
        GTEST_SKIP() << "runs only on " << c.only << ": " << c.why;
    const fs::path dir = workdir();
    c.setup(dir);
    if (IsSkipped()) {
        fs::remove_all(dir.parent_path());
        return;
    }
    const auto before = std::distance(fs::directory_iterator(dir), {});

    const outcome r = wait(start(dir, c.args, c.how), dir, c.how);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
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
    if (c.status != 0 && !c.how.fullstdout) {
        EXPECT_LE(std::distance(fs::directory_iterator(dir), {}), before) << "files left behind";
    }
    fs::remove_all(dir.parent_path());
}

INSTANTIATE_TEST_SUITE_P(, Cli, testing::ValuesIn(cases), [](const auto &info) {
    std::string n = info.param.name;
    for (char &ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return n;
});

// The tool reads a FIFO that a feeder keeps full, so that it is busy in the
// middle of its input with part of the header on disk, and is then
// interrupted. Under Wine a SIGINT reaches the tool as Ctrl-C, which ends it
// with STATUS_CONTROL_C_EXIT (0xC000013A, of which a POSIX parent sees the
// low byte).
TEST(Interrupt, RemovesTheHeader)
{
    const struct {
        int sig;
        bool ignored; // ignored when the tool starts: it must stay ignored
    } cases[] = {{SIGINT, false}, {SIGTERM, false}, {SIGHUP, false}, {SIGHUP, true}};
    unsigned char ramp[255 * 16]; // different neighbours, also from one copy to the next
    for (std::size_t i = 0; i < sizeof ramp; ++i)
        ramp[i] = static_cast<unsigned char>(i % 255);
    for (const auto &c : cases) {
        if (windows && c.sig != SIGINT)
            continue; // Wine turns only SIGINT into a console event
        SCOPED_TRACE(strsignal(c.sig) + std::string(c.ignored ? ", ignored" : ""));
        const fs::path dir = workdir();
        ASSERT_EQ(mkfifo((dir / "in").c_str(), 0644), 0);
        // A writer before the tool opens the FIFO (which the tool does not
        // inherit), and a feeder that writes through it until it is killed.
        const int fifo = open((dir / "in").c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(fifo, 0);
        const pid_t feeder = fork();
        if (feeder == 0) {
            while (write(fifo, ramp, sizeof ramp) > 0) {
            }
            _exit(0);
        }
        const startup how = {0, false, c.ignored ? c.sig : 0};
        const pid_t pid = start(dir, {"in"}, how);
        for (int i = 0; i < 1000 && !(fs::exists(dir / "in.h") && fs::file_size(dir / "in.h") > 0); ++i)
            usleep(10000);
        EXPECT_GT(fs::file_size(dir / "in.h"), 0u) << "no part of the header on disk";
        kill(pid, c.sig);
        // The input ends (the feeder killed, the FIFO closed) once the tool
        // has ended, or after it had time to, if the signal is ignored.
        auto endinput = [&] {
            kill(feeder, SIGKILL);
            waitpid(feeder, nullptr, 0);
            close(fifo);
        };
        if (c.ignored) {
            usleep(200000);
            endinput();
        }
        const outcome r = wait(pid, dir, how);
        if (!c.ignored)
            endinput();
        if (c.ignored) {
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.out, "Done.");
            bytes tokens;
            EXPECT_EQ(parseheader(readfile(dir / "in.h"), "IN", tokens, eol), "");
        } else {
            EXPECT_EQ(r.signal, windows ? 0 : c.sig);
            EXPECT_EQ(r.status, windows ? 0x3A : -1);
            EXPECT_EQ(r.out, "");
            EXPECT_FALSE(fs::exists(dir / "in.h"));
        }
        fs::remove_all(dir.parent_path());
    }
}
