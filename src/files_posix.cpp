// SPDX-License-Identifier: MIT
// The files of a run on POSIX systems; the interface is files.hpp's.
#include "files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <string>

// What a failure or an interruption removes: the temporary file, or a header
// written in place; nullptr while there is nothing to remove. `keep` is a
// descriptor of the same file, which is emptied where the name can't be
// removed. The signal handler reads both.
static std::atomic<const char *> doomed{nullptr};
static std::atomic<int> keep{-1};
static_assert(std::atomic<const char *>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "read in a signal handler");

static std::string headername, tempname;
static bool temporary; // doomed names the temporary file, to be renamed into place

static const int caught[] = {SIGINT, SIGTERM, SIGHUP};

static sigset_t caughtset()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : caught)
        sigaddset(&set, sig);
    return set;
}

// While the caught signals are blocked, the handler can't run between a file
// being made and being recorded, nor between its rename and the record's end.
static sigset_t blocksignals()
{
    const sigset_t set = caughtset();
    sigset_t old;
    sigprocmask(SIG_BLOCK, &set, &old);
    return old;
}

static void unblocksignals(const sigset_t &old)
{
    sigprocmask(SIG_SETMASK, &old, nullptr);
}

// Records the file open as fd, named `name`, for removal; with the caught
// signals blocked.
static void record(int fd, const char *name)
{
    keep = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    doomed = name;
}

// The recorded file is to stay: forgets it; with the caught signals blocked.
static void forget()
{
    doomed = nullptr;
    const int fd = keep.exchange(-1);
    if (fd >= 0)
        close(fd);
}

// Removes what `doomed` names, or empties it; signal-safe.
static void removedoomed()
{
    const char *name = doomed.exchange(nullptr);
    const int fd = keep.exchange(-1);
    // A failed ftruncate leaves nothing more to try. Its result is tested,
    // not cast to void: with _FORTIFY_SOURCE glibc declares it
    // warn_unused_result, which gcc does not let a cast silence.
    if (name && unlink(name) != 0 && fd >= 0 && ftruncate(fd, 0) != 0) {
    }
    if (fd >= 0)
        close(fd);
}

extern "C" void onsignal(int sig)
{
    // The other caught signals are blocked while this runs, and a second one
    // of the same kind waits: the cleanup is never cut short.
    removedoomed();
    // Then the process ends by the same signal, as its caller should see:
    // with the default action, and the signal let through, raising it ends
    // the process (or a second one that waited does).
    struct sigaction sa = {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    (void)raise(sig);
}

void catchsignals()
{
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    sigaction(SIGXFSZ, &ignore, nullptr);
    for (const int sig : caught) {
        struct sigaction old = {};
        if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN)
            continue;
        struct sigaction sa = {};
        sa.sa_handler = onsignal;
        sa.sa_mask = caughtset();
        sigaction(sig, &sa, nullptr);
    }
}

std::FILE *openinput(const char *name)
{
    std::FILE *in = std::fopen(name, "rb");
    struct stat st;
    // A directory opens for reading here but has no bytes; it is refused as
    // Windows refuses it at the open.
    if (in && (fstat(fileno(in), &st) != 0 || S_ISDIR(st.st_mode))) {
        (void)std::fclose(in); // read from nothing
        return nullptr;
    }
    return in;
}

static bool same(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The header's folder, as a prefix of names in it: "" or ending in '/'.
static std::string folderof(const std::string &name)
{
    const std::string::size_type slash = name.rfind('/');
    return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

// Whether the folder lets a file in it be renamed over `header` (when it
// exists) and removed. An append-only folder lets files be made but never
// removed; in a sticky one only its owner, a file's owner or root may remove
// or replace that file. What can't be told is left to the attempt.
static bool replaceable(const std::string &folder, const struct stat *header)
{
    const char *path = folder.empty() ? "." : folder.c_str();
#ifdef __linux__
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    int flags = 0;
    const bool appendonly =
        fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
    if (fd >= 0)
        close(fd);
    if (appendonly)
        return false;
#endif
    struct stat st;
    const uid_t me = geteuid();
    return !header || stat(path, &st) != 0 || (st.st_mode & S_ISVTX) == 0 || me == 0 || st.st_uid == me ||
           header->st_uid == me;
}

// Random enough that runs started together choose different names: the
// process, the time and a counter, mixed (splitmix64).
static std::string randomtext()
{
    static std::uint64_t counter = 0;
    timespec t = {};
    (void)clock_gettime(CLOCK_REALTIME, &t); // any value will do
    std::uint64_t x = static_cast<std::uint64_t>(getpid()) << 40 ^ static_cast<std::uint64_t>(t.tv_nsec) ^
                      static_cast<std::uint64_t>(t.tv_sec) << 20 ^ ++counter * 0x9E3779B97F4A7C15u;
    x = (x ^ x >> 30) * 0xBF58476D1CE4E5B9u;
    x = (x ^ x >> 27) * 0x94D049BB133111EBu;
    x ^= x >> 31;
    std::string s;
    for (int i = 0; i < 10; ++i, x >>= 5)
        s += "abcdefghijklmnopqrstuvwxyz234567"[x & 31];
    return s;
}

// Creates the temporary file beside the header, exclusively, with the mode a
// new file gets, and records it for removal; its descriptor, or -1.
static int createtemporary()
{
    const std::string folder = folderof(headername);
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempname = folder + ".bytetab-" + randomtext();
        const sigset_t old = blocksignals();
        const int fd = open(tempname.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
        const int error = errno;
        if (fd >= 0) {
            record(fd, tempname.c_str());
            temporary = true;
        }
        unblocksignals(old);
        if (fd >= 0 || error != EEXIST)
            return fd;
    }
    return -1;
}

// Opens the header itself to write it in place, and compares it with the
// input once more, as it is what will be written. A regular file is emptied
// and recorded for removal; anything else is written as it is.
static int openinplace(const struct stat &input, bool regular)
{
    const int fd = open(headername.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (regular ? O_CREAT : 0), 0666);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || same(st, input) || S_ISREG(st.st_mode) != regular) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    if (!regular)
        return fd;
    const sigset_t old = blocksignals();
    record(fd, headername.c_str());
    unblocksignals(old);
    if (ftruncate(fd, 0) != 0) {
        // Not a byte of it replaced yet: it stays as it was.
        const sigset_t again = blocksignals();
        forget();
        unblocksignals(again);
        close(fd);
        return -1;
    }
    return fd;
}

std::FILE *createheader(const char *name, std::FILE *in)
{
    headername = name;
    struct stat input, header;
    if (fstat(fileno(in), &input) != 0)
        return nullptr;
    const bool exists = stat(name, &header) == 0;
    if (exists && same(header, input))
        return nullptr;
    int fd = -1;
    if (exists && !S_ISREG(header.st_mode)) {
        fd = openinplace(input, false);
    } else if (exists && faccessat(AT_FDCWD, name, W_OK, AT_EACCESS) != 0) {
        return nullptr; // read-only: not to be replaced behind the user's back
    } else {
        if (replaceable(folderof(headername), exists ? &header : nullptr))
            fd = createtemporary();
        if (fd < 0)
            fd = openinplace(input, true);
    }
    if (fd < 0)
        return nullptr;
    std::FILE *out = fdopen(fd, "w");
    if (!out) {
        close(fd);
        dropheader();
    }
    return out;
}

bool placeheader()
{
    const sigset_t old = blocksignals();
    const bool placed = !temporary || rename(tempname.c_str(), headername.c_str()) == 0;
    if (placed)
        forget();
    unblocksignals(old);
    return placed;
}

void dropheader()
{
    const sigset_t old = blocksignals();
    removedoomed();
    unblocksignals(old);
}
