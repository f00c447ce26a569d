// SPDX-License-Identifier: MIT
// The built tool end to end: files, standard output, standard error and the
// exit status, each case in a directory of its own.
//
// By default the cases run the native build. BYTETAB_CMD replaces the command
// that runs the tool (for instance "wine build/windows/bytetab.exe"), and
// BYTETAB_TARGET=windows expects the Windows build: headers with CR LF line
// ends, and only the cases that make sense there.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#ifdef __linux__
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#endif
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
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

// How the tool is started: under a file size limit (SIGXFSZ at its default,
// as a shell's ulimit leaves it), with standard output a full device, a pipe
// whose reader is gone or a file at the size limit, with a signal ignored,
// as an unprivileged user, with a limit on open descriptors. Every run gets
// umask 022, no core file, the standard descriptors alone, and a file size
// limit of 1 GiB unless it has one: a run that never ends can't fill the
// disk. `tag` tells apart the outputs of runs that go on at once.
struct startup {
    rlim_t fsize = 0;
    enum { file, full, closedpipe, atlimit } out = file;
    int ignored = 0;
    uid_t user = 0;
    std::string tag = "";
    rlim_t files = 0;
};

// The unprivileged user that cases run as: nobody.
constexpr uid_t nobody = 65534;

// The signals that end the tool by default and can come from outside.
static const std::vector<int> terminating = [] {
    std::vector<int> sigs = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF, SIGXCPU};
#ifdef __linux__
    sigs.insert(sigs.end(), {SIGPOLL, SIGPWR, SIGSTKFLT, SIGRTMIN, SIGRTMAX});
#endif
    return sigs;
}();

// Whether nobody can reach `dir`, each folder above it searchable.
static bool reachable(const fs::path &dir)
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(setgroups(0, nullptr) == 0 && setgid(nobody) == 0 && setuid(nobody) == 0 && access(dir.c_str(), X_OK) == 0
                  ? 0
                  : 1);
    int status = 1;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Starts the tool with `args` in `dir`, its output in files beside `dir`.
static pid_t start(const fs::path &dir, const std::vector<std::string> &args, const startup &how)
{
    const fs::path out = how.out == startup::full ? "/dev/full" : dir.parent_path() / ("stdout" + how.tag);
    const fs::path err = dir.parent_path() / ("stderr" + how.tag);
    std::vector<std::string> cmd = toolcommand();
    if (how.user) {
        // The user may not reach the build tree (a checkout in a folder of
        // mode 0700): the run takes a copy beside the case's folder.
        const fs::path copy = dir.parent_path() / "tool";
        fs::copy_file(cmd.back(), copy, fs::copy_options::overwrite_existing);
        cmd.back() = copy.string();
    }
    cmd.insert(cmd.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &a : cmd)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        int o = -1, p[2];
        if (how.out == startup::closedpipe) {
            if (pipe(p) == 0 && close(p[0]) == 0)
                o = p[1];
        } else {
            o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
        if (how.out == startup::atlimit && lseek(o, static_cast<off_t>(how.fsize), SEEK_SET) < 0)
            _exit(126);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int i = open("/dev/null", O_RDONLY);
        if (o < 0 || e < 0 || i < 0 || dup2(i, 0) < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 || chdir(dir.c_str()) != 0)
            _exit(126);
        for (const int fd : {o, e, i})
            if (fd > 2)
                close(fd);
        const rlim_t fsize = how.fsize ? how.fsize : rlim_t{1} << 30;
        const rlimit lim{fsize, fsize}, nocore{0, 0}, files{how.files, how.files};
        if (setrlimit(RLIMIT_FSIZE, &lim) != 0 || setrlimit(RLIMIT_CORE, &nocore) != 0 ||
            (how.files && setrlimit(RLIMIT_NOFILE, &files) != 0))
            _exit(126);
        umask(022);
        for (const int sig : terminating)
            signal(sig, SIG_DFL);
        signal(SIGXFSZ, SIG_DFL);
        signal(SIGPIPE, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (how.ignored)
            signal(how.ignored, SIG_IGN);
        if (how.user && (setgroups(0, nullptr) != 0 || setgid(how.user) != 0 || setuid(how.user) != 0))
            _exit(126);
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
            how.out == startup::file ? readfile(dir.parent_path() / ("stdout" + how.tag)) : "",
            readfile(dir.parent_path() / ("stderr" + how.tag))};
}

// A fresh, empty directory for the current test, inside one of its own.
static fs::path workdir()
{
    std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '-'); // Runs/converts, say
    const fs::path root = fs::temp_directory_path() / ("bytetab-" + std::to_string(getpid()) + "-" + name);
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
    c.how.out = startup::full;
    return only("Linux", "/dev/full is Linux", c);
}

static void none(const fs::path &) {}

static void symlink(const fs::path &to, const fs::path &link)
{
    fs::create_symlink(to.filename(), link);
}

#ifdef __linux__
// A directory `name` made by `fill`, then made append-only: files in it can
// be created and written but not removed. It is a tmpfs of its own where one
// can be mounted, which takes the flag whatever file system holds the case's
// folder. Without `fill`, the flag is taken off again and the tmpfs
// unmounted, so that the directory can go. Skips the case where the flag
// can't be set (it needs CAP_LINUX_IMMUTABLE).
static std::function<void(const fs::path &)> appendonly(const std::string &name, void (*fill)(const fs::path &))
{
    return [=](const fs::path &d) {
        if (fill) {
            fs::create_directory(d / name);
            (void)mount("tmpfs", (d / name).c_str(), "tmpfs", 0, "size=16m"); // else the folder as it is
            fill(d / name);
        }
        const int fd = open((d / name).c_str(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        bool set = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = fill ? flags | FS_APPEND_FL : flags & ~FS_APPEND_FL;
        set = set && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0)
            close(fd);
        if (!fill)
            (void)umount2((d / name).c_str(), MNT_DETACH); // where it was mounted
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

// What a folder holds, all the way down: each file's content, each link as
// "-> target", each folder as "/", anything else as "?".
static std::map<std::string, std::string> contents(const fs::path &dir)
{
    std::map<std::string, std::string> held;
    for (const auto &e : fs::recursive_directory_iterator(dir)) {
        const std::string name = e.path().lexically_relative(dir).string();
        if (e.is_symlink())
            held[name] = "-> " + fs::read_symlink(e.path()).string();
        else if (e.is_directory())
            held[name] = "/";
        else if (e.is_regular_file())
            held[name] = readfile(e.path());
        else
            held[name] = "?";
    }
    return held;
}

// More to check after a run: that the folder holds exactly `held`.
static std::function<void(const fs::path &)> holds(std::map<std::string, std::string> held)
{
    return [=](const fs::path &d) { EXPECT_EQ(contents(d), held); };
}

// The case run as nobody, after the setup has given nobody the paths in
// `owned` ("." for the case's folder).
static clicase unprivileged(std::vector<std::string> owned, clicase c)
{
    const auto setup = c.setup;
    c.setup = [=](const fs::path &d) {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to run the tool as another user";
        if (!reachable(d))
            GTEST_SKIP() << "nobody cannot reach " << d;
        setup(d);
        for (const std::string &o : owned)
            ASSERT_EQ(chown((d / o).c_str(), nobody, nobody), 0) << o;
    };
    c.how.user = nobody;
    return only("POSIX", "runs the tool as an unprivileged user", c);
}

// `name` with `data`, and `name`.h a symbolic link to other/real.h, which
// holds an old header.
static auto linkedout(const std::string &name, const std::string &data = logo)
{
    return [=](const fs::path &d) {
        writefile(d / name, data);
        fs::create_directory(d / "other");
        writefile(d / "other/real.h", "old");
        fs::create_symlink("other/real.h", d / (name + ".h"));
    };
}

#ifdef __linux__
static void unmount(const fs::path &at)
{
    EXPECT_EQ(umount2(at.c_str(), MNT_DETACH), 0) << at;
}

// An overlay at m of the folders l (lower) and u (upper), as containers use:
// l/in, and l/in.h an absolute link to it. Through m, the link leads to the
// lower file itself, which has m/in's inode on another device.
static void overlay(const fs::path &d)
{
    for (const char *sub : {"l", "u", "w", "m"})
        fs::create_directory(d / sub);
    writefile(d / "l/in", logo);
    fs::create_symlink(d / "l/in", d / "l/in.h");
    const std::string options =
        "lowerdir=" + (d / "l").string() + ",upperdir=" + (d / "u").string() + ",workdir=" + (d / "w").string();
    if (mount("overlay", (d / "m").c_str(), "overlay", 0, options.c_str()) != 0)
        GTEST_SKIP() << "cannot mount an overlay: " << std::strerror(errno);
}

// A 64 KiB file system at tiny, too small for the header of tiny/big, which
// is a link out of it to real.h.
static void tinyfs(const fs::path &d)
{
    fs::create_directory(d / "tiny");
    if (mount("tmpfs", (d / "tiny").c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
    std::string big;
    for (int i = 0; i < 30000; ++i)
        big += static_cast<char>('A' + i % 26);
    writefile(d / "tiny/big", big);
    writefile(d / "real.h", "old");
    fs::create_symlink("../real.h", d / "tiny/big.h");
}

// A tmpfs at t, with the files `fill` makes, and then no inode left.
static std::function<void(const fs::path &)> noinodes(void (*fill)(const fs::path &))
{
    return [=](const fs::path &d) {
        fs::create_directory(d / "t");
        if (mount("tmpfs", (d / "t").c_str(), "tmpfs", 0, "size=1m") != 0)
            GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
        fill(d);
        struct statvfs counts = {};
        ASSERT_EQ(statvfs((d / "t").c_str(), &counts), 0);
        const std::string all = "nr_inodes=" + std::to_string(counts.f_files - counts.f_ffree);
        EXPECT_EQ(mount("tmpfs", (d / "t").c_str(), "tmpfs", MS_REMOUNT, all.c_str()), 0) << std::strerror(errno);
    };
}
#endif

// "./" 2,040 times, then "a": 4,081 bytes. The header's name fits PATH_MAX,
// the temporary file's beside it does not.
static const std::string dotpath = [] {
    std::string p;
    for (int i = 0; i < 2040; ++i)
        p += "./";
    return p + "a";
}();

// x, and x.h a FIFO whose reader takes a little of the header and goes.
static void quitter(const fs::path &d)
{
    writefile(d / "x", mixedtext);
    ASSERT_EQ(mkfifo((d / "x.h").c_str(), 0644), 0);
    const std::string fifo = (d / "x.h").string();
    if (fork() == 0) {
        const int fd = open(fifo.c_str(), O_RDONLY);
        char some[100];
        _exit(fd >= 0 && read(fd, some, sizeof some) > 0 ? 0 : 1);
    }
}

static void reap(const fs::path &)
{
    while (waitpid(-1, nullptr, 0) > 0) {
    }
}

static const std::string longname(252, 'n'); // with ".h", a name of 254 bytes
static const std::string toolong(254, 'n');  // with ".h", 256 bytes: more than a file name may have

// One row a case, laid out by hand.
// clang-format off
static const clicase cases[] = {
    {"no argument", none, {}, "Usage: bytetab.exe  [input file name]", 1, {}},
    {"two arguments", file("a"), {"a", "a"}, "Usage: bytetab.exe  [input file name]", 1, {{"a.h", std::nullopt}}},
    {"missing input", none, {"nothere.bin"}, "Cannot open nothere.bin!", 1, {{"nothere.bin.h", std::nullopt}}},
    {"directory input", [](const fs::path &d) { fs::create_directory(d / "sub"); },
     {"sub"}, "Cannot open sub!", 1, {{"sub.h", std::nullopt}}},
    {"converts", file("logo.bin"), {"logo.bin"}, "Done.", 0, {}, {}, [](const fs::path &d) {
         holds({{"logo.bin", logo}, {"logo.bin.h", logoheader()}})(d);
         if (!windows) {
             EXPECT_EQ(fs::status(d / "logo.bin.h").permissions(), fs::perms(0644)) << "a new file's mode, umask 022";
         }
     }},
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
    {"replaces an old header", [](const fs::path &d) {
         file("logo.bin")(d);
         writefile(d / "logo.bin.h", std::string(5000, 'x'));
     }, {"logo.bin"}, "Done.", 0, {{"logo.bin.h", logoheader()}}},
    {"replaces a link into another folder", linkedout("logo.bin"), {"logo.bin"}, "Done.", 0,
     {}, {}, holds({{"logo.bin", logo}, {"logo.bin.h", logoheader()}, {"other", "/"}, {"other/real.h", "old"}})},
    {"replaces a hard link to another file", [](const fs::path &d) {
         file("logo.bin")(d);
         writefile(d / "other.h", "old");
         fs::create_hard_link(d / "other.h", d / "logo.bin.h");
     }, {"logo.bin"}, "Done.", 0, {{"logo.bin.h", logoheader()}, {"other.h", "old"}}},
    only("POSIX", "Windows paths end at 260 characters", {"254-byte header name", file(longname), {longname},
     "Done.", 0, {{longname + ".h", logoheader(std::string(252, 'N'))}}}),
    only("POSIX", "Windows paths end at 260 characters", {"256-byte header name", file(toolong), {toolong},
     "Cannot create " + toolong + ".h!", 1, {{toolong, logo}}}),
    only("POSIX", "Windows paths end at 260 characters", {"4,081-byte path, header a link", linkedout("a"), {dotpath},
     "Done.", 0, {}, {}, holds({{"a", logo}, {"a.h", logoheader(std::string(4080, '_') + "A")}, {"other", "/"},
     {"other/real.h", "old"}})}),
    only("POSIX", "owners are POSIX", {"root replaces another user's 0600 header", [](const fs::path &d) {
         if (geteuid() != 0)
             GTEST_SKIP() << "needs root to give the header to another user";
         file("x")(d);
         writefile(d / "x.h", "old");
         ASSERT_EQ(chown((d / "x.h").c_str(), nobody, nobody), 0);
         fs::permissions(d / "x.h", fs::perms(0600));
     }, {"x"}, "Done.", 0, {{"x.h", logoheader("X")}}, {}, [](const fs::path &d) {
         struct stat st = {};
         ASSERT_EQ(stat((d / "x.h").c_str(), &st), 0);
         EXPECT_EQ(st.st_uid, nobody);
         EXPECT_EQ(st.st_gid, nobody);
         EXPECT_EQ(st.st_mode & 07777, 0600u);
     }}),
    unprivileged({"."}, {"read-only header", [](const fs::path &d) {
         file("x")(d);
         writefile(d / "x.h", "old");
     }, {"x"}, "Cannot create x.h!", 1, {{"x.h", "old"}}}),
    unprivileged({"x.h"}, {"read-only folder, writable header", [](const fs::path &d) {
         file("x")(d);
         writefile(d / "x.h", "old");
     }, {"x"}, "Done.", 0, {{"x.h", logoheader("X")}}}),
    unprivileged({"other/real.h"}, {"read-only folder, header a link out", linkedout("x"), {"x"}, "Done.", 0, {}, {},
     holds({{"x", logo}, {"x.h", "-> other/real.h"}, {"other", "/"}, {"other/real.h", logoheader("X")}})}),
    unprivileged({"w"}, {"read-only folder, header a dangling link", [](const fs::path &d) {
         file("x")(d);
         fs::create_directory(d / "w");
         fs::create_symlink("w/new.h", d / "x.h");
     }, {"x"}, "Cannot create x.h!", 1, {}, {}, holds({{"x", logo}, {"x.h", "-> w/new.h"}, {"w", "/"}})}),
    // The input, the folder and the header take three descriptors beside
    // the standard ones; the one kept for emptying the header is refused.
    unprivileged({"x.h"}, {"read-only folder, six descriptors", [](const fs::path &d) {
         file("x", mixedtext)(d);
         writefile(d / "x.h", "old");
     }, {"x"}, "Cannot create x.h!", 1, {{"x.h", "old"}}, {100000, startup::file, 0, 0, "", 6}}),
    {"header cannot be created", [](const fs::path &d) {
         file("x")(d);
         fs::create_directory(d / "x.h");
     }, {"x"}, "Cannot create x.h!", 1, {}},
    only("POSIX", "file size limits are POSIX", {"write fails at the size limit", file("big", mixedtext),
     {"big"}, "Cannot write big.h!", 1, {{"big.h", std::nullopt}}, {100000}}),
    only("POSIX", "file size limits are POSIX", {"write fails at the size limit, header a link",
     linkedout("big", mixedtext), {"big"}, "Cannot write big.h!", 1, {}, {100000},
     holds({{"big", mixedtext}, {"big.h", "-> other/real.h"}, {"other", "/"}, {"other/real.h", "old"}})}),
    only("POSIX", "file size limits are POSIX", {"message past the size limit", file("logo.bin"), {"logo.bin"},
     "", 1, {{"logo.bin.h", logoheader()}}, {100000, startup::atlimit}}),
    only("POSIX", "Wine reports a write to a closed pipe as done", {"message to a closed pipe", file("logo.bin"),
     {"logo.bin"}, "", 1, {{"logo.bin.h", logoheader()}}, {0, startup::closedpipe}}),
    only("POSIX", "FIFOs are POSIX", {"header a FIFO whose reader stops", quitter, {"x"}, "Cannot write x.h!", 1,
     {}, {}, [](const fs::path &d) {
         reap(d);
         EXPECT_TRUE(fs::is_fifo(d / "x.h"));
     }}),
#ifdef __linux__
    only("Linux", "overlay mounts are Linux's", {"header through an overlay leads to the input", overlay, {"m/in"},
     "Done.", 0, {{"m/in", logo}, {"l/in", logo}, {"m/in.h", logoheader("M_IN")}}, {}, [](const fs::path &d) {
         EXPECT_EQ(fs::read_symlink(d / "l/in.h"), d / "l/in");
         unmount(d / "m");
     }}),
    only("Linux", "tmpfs is Linux's", {"full file system, header a link out of it", tinyfs, {"tiny/big"},
     "Cannot write tiny/big.h!", 1, {{"real.h", "old"}}, {}, [](const fs::path &d) {
         EXPECT_EQ(contents(d / "tiny").size(), 2u) << "files left behind";
         EXPECT_EQ(fs::read_symlink(d / "tiny/big.h"), "../real.h");
         unmount(d / "tiny");
     }}),
    only("Linux", "tmpfs is Linux's", {"no inode left, header a link out", noinodes([](const fs::path &d) {
         writefile(d / "notes", "old");
         file("t/a")(d);
         fs::create_symlink("../notes", d / "t/a.h");
     }), {"t/a"}, "Cannot create t/a.h!", 1, {}, {}, [](const fs::path &d) {
         holds({{"notes", "old"}, {"t", "/"}, {"t/a", logo}, {"t/a.h", "-> ../notes"}})(d);
         unmount(d / "t");
     }}),
    only("Linux", "tmpfs is Linux's", {"no inode left, an earlier header", noinodes([](const fs::path &d) {
         file("t/a")(d);
         writefile(d / "t/a.h", "an old header");
     }), {"t/a"}, "Cannot create t/a.h!", 1, {{"t/a.h", "an old header"}}, {}, [](const fs::path &d) {
         EXPECT_EQ(contents(d / "t").size(), 2u) << "files left behind";
         unmount(d / "t");
     }}),
#endif
#ifdef __linux__
    only("Linux", "append-only directories (chattr +a) are Linux's", {"header can only be emptied",
     appendonly("ao", [](const fs::path &d) {
         writefile(d / "big", mixedtext);
         writefile(d / "big.h", "an old header");
     }), {"ao/big"}, "Cannot write ao/big.h!", 1, {{"ao/big.h", ""}}, {100000}, appendonly("ao", nullptr)}),
    // Writable but not readable by the user: its flags are still known.
    only("Linux", "append-only directories (chattr +a) are Linux's", unprivileged({"ao/a.h"},
     {"append-only folder of mode 0733", appendonly("ao", [](const fs::path &d) {
         writefile(d / "a", logo);
         writefile(d / "a.h", "old");
         fs::permissions(d, fs::perms(0733));
     }), {"ao/a"}, "Done.", 0, {{"ao/a.h", logoheader("AO_A")}}, {}, [](const fs::path &d) {
         EXPECT_EQ(contents(d / "ao").size(), 2u) << "files left behind";
         appendonly("ao", nullptr)(d);
     }})),
#endif
    only("Linux", "/dev/full is Linux", {"write fails on a full device", [](const fs::path &d) {
         file("x")(d);
         fs::create_symlink("/dev/full", d / "x.h");
     }, {"x"}, "Cannot write x.h!", 1, {}, {}, holds({{"x", logo}, {"x.h", "-> /dev/full"}})}),
    only("POSIX", "/dev/null is POSIX", {"header is /dev/null", [](const fs::path &d) {
         file("x")(d);
         fs::create_symlink("/dev/null", d / "x.h");
     }, {"x"}, "Done.", 0, {}, {}, holds({{"x", logo}, {"x.h", "-> /dev/null"}})}),
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
    if (c.status != 0 && c.how.out == startup::file) {
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

// A FIFO `in` in `dir` and a feeder that writes different neighbours through
// it, 16 KiB a millisecond, until `total` bytes or until it is killed. The
// test holds a writer too (returned), so that the tool's open does not wait
// for the feeder and its input ends only once both are gone.
struct feed {
    pid_t feeder;
    int fifo;
};

static feed startfeed(const fs::path &dir, std::size_t total)
{
    EXPECT_EQ(mkfifo((dir / "in").c_str(), 0644), 0);
    const int fifo = open((dir / "in").c_str(), O_RDWR | O_CLOEXEC);
    EXPECT_GE(fifo, 0);
    const pid_t feeder = fork();
    if (feeder == 0) {
        unsigned char ramp[255 * 64]; // no two equal neighbours, also from one copy to the next
        for (std::size_t i = 0; i < sizeof ramp; ++i)
            ramp[i] = static_cast<unsigned char>(i % 255);
        for (std::size_t fed = 0; fed < total && write(fifo, ramp, sizeof ramp) > 0; fed += sizeof ramp)
            usleep(1000);
        _exit(0);
    }
    return {feeder, fifo};
}

// Ends the input: the feeder killed, the test's writer closed.
static void endfeed(feed &f)
{
    if (f.feeder > 0) {
        kill(f.feeder, SIGKILL);
        waitpid(f.feeder, nullptr, 0);
        close(f.fifo);
        f.feeder = 0;
    }
}

// How many bytes the regular files in `dir` hold (links not followed).
static std::uintmax_t held(const fs::path &dir)
{
    std::uintmax_t n = 0;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(dir, ec))
        if (e.is_regular_file(ec) && !e.is_symlink(ec))
            n += e.file_size(ec);
    return n;
}

// Waits until `done` holds, for ten seconds at most; false if it never did.
static bool waitfor(const std::function<bool()> &done)
{
    for (int i = 0; i < 10000; ++i, usleep(1000))
        if (done())
            return true;
    return false;
}

// How many entries `dir` holds.
static std::ptrdiff_t entries(const fs::path &dir)
{
    std::error_code ec;
    return std::distance(fs::directory_iterator(dir, ec), {});
}

// Under Wine a SIGINT reaches the tool as Ctrl-C, which ends it with
// STATUS_CONTROL_C_EXIT (0xC000013A, of which a POSIX parent sees the low
// byte); Wine turns no other signal into a console event.
static const int killsignal = windows ? SIGINT : SIGTERM;

static void expectkilled(const outcome &r, int sig)
{
    EXPECT_EQ(r.signal, windows ? 0 : sig);
    EXPECT_EQ(r.status, windows ? 0x3A : -1);
    EXPECT_EQ(r.out, "");
}

// The tool reads a FIFO that the feeder keeps busy, so that it is in the
// middle of its input with part of the header on disk, and is then
// interrupted: the folder is left as it was, but where the header is written
// in place (its folder allows no new file), which is emptied.
TEST(Interrupt, LeavesTheFolderAsItWas)
{
    enum layout { fresh, oldheader, linkout, inplace };
    struct interruption {
        int sig;
        bool ignored; // ignored when the tool starts: it must stay ignored
        layout at;
    };
    std::vector<interruption> cases = {{SIGINT, false, fresh},   {SIGTERM, false, fresh},    {SIGHUP, false, fresh},
                                       {SIGHUP, true, fresh},    {SIGINT, false, oldheader}, {SIGTERM, false, linkout},
                                       {SIGINT, false, linkout}, {SIGTERM, false, inplace}};
    for (const int sig : terminating)
        if (sig != SIGINT && sig != SIGTERM && sig != SIGHUP)
            cases.push_back({sig, false, fresh});
    for (const auto &c : cases) {
        if (windows && (c.sig != SIGINT || c.at == inplace))
            continue;
        if (c.at == inplace && (geteuid() != 0 || !reachable(workdir())))
            continue; // runs as another user
        SCOPED_TRACE(strsignal(c.sig) + std::string(c.ignored ? ", ignored" : "") + ", layout " + std::to_string(c.at));
        const fs::path dir = workdir();
        if (c.at == oldheader || c.at == inplace)
            writefile(dir / "in.h", "an old header");
        if (c.at == inplace) {
            ASSERT_EQ(chown((dir / "in.h").c_str(), nobody, nobody), 0);
        }
        if (c.at == linkout) {
            fs::create_directory(dir / "other");
            writefile(dir / "other/real.h", "old");
            fs::create_symlink("other/real.h", dir / "in.h");
        }
        feed f = startfeed(dir, std::size_t{64} << 20);
        std::map<std::string, std::string> before = contents(dir);
        startup how;
        how.ignored = c.ignored ? c.sig : 0;
        how.user = c.at == inplace ? nobody : 0;
        const pid_t pid = start(dir, {"in"}, how);
        const std::uintmax_t start = held(dir);
        const bool busy = waitfor([&] { return held(dir) > start + 100; });
        EXPECT_TRUE(busy) << "no part of the header on disk";
        kill(pid, c.sig);
        // The input ends once the tool has ended, or after it had time to, if
        // the signal is ignored.
        if (c.ignored || !busy) {
            usleep(200000);
            endfeed(f);
        }
        const outcome r = wait(pid, dir, how);
        endfeed(f);
        if (c.ignored) {
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.out, "Done.");
            bytes tokens;
            EXPECT_EQ(parseheader(readfile(dir / "in.h"), "IN", tokens, eol), "");
        } else {
            expectkilled(r, c.sig);
            if (c.at == inplace)
                before["in.h"] = "";
            EXPECT_EQ(contents(dir), before);
        }
        fs::remove_all(dir.parent_path());
    }
}

// The same signal twice in quick succession, as timeout(1) sends it to the
// tool and then to its group: the second waits until the first one's cleanup
// is done.
TEST(Interrupt, TwiceInQuickSuccession)
{
    if (windows)
        GTEST_SKIP() << "Wine makes one console event of a signal";
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const fs::path dir = workdir();
        fs::create_symlink("/dev/zero", dir / "z");
        const pid_t pid = start(dir, {"z"}, {});
        // The input is one endless run, of which nothing is written: the
        // header is being written once it exists.
        EXPECT_TRUE(waitfor([&] { return entries(dir) == 2; })) << "no header begun";
        kill(pid, SIGTERM);
        for (volatile int spin = 0; spin < round * 2000; ++spin) {
        }
        kill(pid, SIGTERM);
        const outcome r = wait(pid, dir, {});
        EXPECT_EQ(r.signal, SIGTERM);
        EXPECT_EQ(contents(dir), (std::map<std::string, std::string>{{"z", "-> /dev/zero"}}));
        fs::remove_all(dir.parent_path());
    }
}

// Two runs on one file at once, as parallel builds and a rerun make them,
// both reading the same FIFO: each writes its own whole header and renames it
// into place, and one killed halfway takes nothing from the other.
TEST(Concurrent, TwoRunsOnOneFile)
{
    for (const bool killone : {false, true}) {
        SCOPED_TRACE(killone ? "one killed" : "both complete");
        const fs::path dir = workdir();
        feed f = startfeed(dir, std::size_t{8} << 20);
        startup first, second;
        second.tag = "2";
        const pid_t a = start(dir, {"in"}, first), b = start(dir, {"in"}, second);
        // Both have part of a header on disk.
        const bool busy = waitfor([&] {
            int writing = 0;
            std::error_code ec;
            for (const auto &e : fs::directory_iterator(dir, ec))
                writing += e.path().filename() != "in" && e.is_regular_file(ec) && e.file_size(ec) > 0;
            return writing == 2;
        });
        EXPECT_TRUE(busy) << "not both writing";
        if (killone)
            kill(a, killsignal);
        // Only the feeder writes now: the input ends where it stops.
        close(f.fifo);
        const outcome ra = wait(a, dir, first), rb = wait(b, dir, second);
        waitpid(f.feeder, nullptr, 0);
        if (killone) {
            expectkilled(ra, killsignal);
        } else {
            EXPECT_EQ(ra.out, "Done.");
            EXPECT_EQ(ra.status, 0);
        }
        EXPECT_EQ(rb.out, "Done.") << rb.err;
        EXPECT_EQ(rb.status, 0);
        bytes tokens;
        EXPECT_EQ(parseheader(readfile(dir / "in.h"), "IN", tokens, eol), "");
        EXPECT_EQ(entries(dir), 2) << "files left behind";
        fs::remove_all(dir.parent_path());
    }
}
