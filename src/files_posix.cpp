// SPDX-License-Identifier: MIT
// The files of a run on POSIX systems; the interface is files.hpp's.
#include "files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <string>

// What a failure or an interruption removes: the file `doomed` names in the
// header's folder (open as `folder` for the run), the temporary file or a
// header written in place; nullptr while there is nothing to remove. `keep`
// is a descriptor of the same file, which is emptied where the name can't be
// removed. The signal handler reads all three.
static std::atomic<const char *> doomed{nullptr};
static std::atomic<int> keep{-1}, folder{-1};
static_assert(std::atomic<const char *>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "read in a signal handler");

// The names of the header and of the temporary file in the folder.
static std::string headername, tempname;
static bool temporary; // doomed names the temporary file, to be renamed into place

// The signals that end the process by default and can come from outside the
// run, the real-time ones too (SIGKILL and SIGSTOP can't be caught; SIGPIPE
// and SIGXFSZ are ignored).
static const int caught[] = {
    SIGHUP,    SIGINT, SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF, SIGXCPU,
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

static sigset_t caughtset()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : caught)
        sigaddset(&set, sig);
#ifdef SIGRTMIN
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig)
        sigaddset(&set, sig);
#endif
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

// Records the file open as fd, named `name` in the folder, for removal; with
// the caught signals blocked. False, and nothing recorded, if the descriptor
// kept for emptying it can't be had.
static bool record(int fd, const char *name)
{
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return false;
    keep = copy;
    doomed = name;
    return true;
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
    if (name && unlinkat(folder, name, 0) != 0 && fd >= 0 && ftruncate(fd, 0) != 0) {
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
    const sigset_t set = caughtset();
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction old = {};
        if (sigismember(&set, sig) != 1 || sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN)
            continue;
        struct sigaction sa = {};
        sa.sa_handler = onsignal;
        sa.sa_mask = set;
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

// Opens the header's folder, `name` up to its last '/', for the run: a
// descriptor that the file operations go through, whatever the length of the
// path, and that needs no permission to read the folder where the system
// has such a kind (O_PATH, O_SEARCH).
static bool openfolder(const std::string &name)
{
#if defined(O_PATH)
    const int kind = O_PATH;
#elif defined(O_SEARCH)
    const int kind = O_SEARCH;
#else
    const int kind = O_RDONLY;
#endif
    const std::string::size_type slash = name.rfind('/');
    headername = slash == std::string::npos ? name : name.substr(slash + 1);
    const std::string path = slash == std::string::npos ? std::string(".") : name.substr(0, slash + 1);
    folder = open(path.c_str(), kind | O_DIRECTORY | O_CLOEXEC);
    return folder >= 0;
}

// Whether the folder lets a file in it be renamed over `header` (when it
// exists) and removed, in `replace`; false if the folder's own flags can't be
// read. An append-only folder lets files be made but never removed, an
// immutable one neither; in a sticky one only its owner, a file's owner or
// root may remove or replace that file. The flags are read without opening
// the folder for reading, which a folder of mode 0733 refuses.
static bool folderallows(const struct stat *header, bool &replace)
{
#if defined(__linux__) && defined(STATX_ATTR_APPEND)
    struct statx st;
    if (statx(folder, "", AT_EMPTY_PATH, STATX_MODE | STATX_UID, &st) != 0)
        return false;
    const bool locked = (st.stx_attributes & (STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE)) != 0;
    const mode_t mode = st.stx_mode;
    const uid_t owner = st.stx_uid;
#else
    struct stat st;
    if (fstat(folder, &st) != 0)
        return false;
    const bool locked = false; // not told here: left to the attempt
    const mode_t mode = st.st_mode;
    const uid_t owner = st.st_uid;
#endif
    const uid_t me = geteuid();
    const bool sticky = header && (mode & S_ISVTX) != 0 && me != 0 && owner != me && header->st_uid != me;
    replace = !locked && !sticky;
    return true;
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

// Creates the temporary file beside the header, exclusively, and records it
// for removal; its descriptor, or -1 with errno set. It has the mode a new
// file gets, or, where it replaces the regular file `old`, that file's
// permission bits, and its owner and group where the process may set them
// (root): made no wider than the old file's, so that its bytes are never
// more widely readable.
static int createtemporary(const struct stat *old)
{
    const mode_t mode = old ? old->st_mode & 0777 : 0666;
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempname = ".bytetab-" + randomtext();
        const sigset_t blocked = blocksignals();
        int fd = openat(folder, tempname.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, mode);
        int error = errno;
        if (fd >= 0 && !record(fd, tempname.c_str())) {
            error = errno;
            (void)unlinkat(folder, tempname.c_str(), 0); // empty, made a moment ago
            close(fd);
            fd = -1;
        }
        temporary = fd >= 0;
        unblocksignals(blocked);
        if (fd >= 0) {
            if (old) {
                // Where the file system keeps no owner or mode, or the user
                // may not give the file away, it stays as it was made; the
                // set-ID bits go only with the old owner. fchmod comes after
                // fchown, which clears them.
                const mode_t bits = fchown(fd, old->st_uid, old->st_gid) == 0 ? 07777 : 0777;
                (void)fchmod(fd, old->st_mode & bits);
            }
            return fd;
        }
        errno = error;
        if (error != EEXIST)
            return -1;
    }
    return -1;
}

// Opens the existing header itself to write it in place, and compares it
// with the input once more, as it is what will be written. A regular file is
// emptied and recorded for removal; anything else is written as it is.
static int openinplace(const struct stat &input, bool regular)
{
    const int fd = openat(folder, headername.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || same(st, input) || S_ISREG(st.st_mode) != regular) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    if (!regular)
        return fd;
    sigset_t blocked = blocksignals();
    const bool recorded = record(fd, headername.c_str());
    unblocksignals(blocked);
    if (!recorded || ftruncate(fd, 0) != 0) {
        // Not a byte of it replaced yet: it stays as it was.
        blocked = blocksignals();
        forget();
        unblocksignals(blocked);
        close(fd);
        return -1;
    }
    return fd;
}

std::FILE *createheader(const char *name, std::FILE *in)
{
    struct stat input, header, atname;
    if (fstat(fileno(in), &input) != 0 || !openfolder(name))
        return nullptr;
    // A name the folder can't hold fails now, not at the rename after the
    // whole conversion.
    const long longest = fpathconf(folder, _PC_NAME_MAX);
    if (longest > 0 && headername.size() > static_cast<unsigned long>(longest))
        return nullptr;
    const bool exists = fstatat(folder, headername.c_str(), &header, 0) == 0;
    if (exists && same(header, input))
        return nullptr;
    int fd = -1;
    if (exists && !S_ISREG(header.st_mode)) {
        fd = openinplace(input, false);
    } else if (exists && faccessat(folder, headername.c_str(), W_OK, AT_EACCESS) != 0) {
        return nullptr; // read-only: not to be replaced behind the user's back
    } else {
        bool replace = false;
        if (!folderallows(exists ? &header : nullptr, replace))
            return nullptr;
        // The mode and owner to keep: those of a regular file at the name
        // itself, not of one a link there leads to.
        const bool regular =
            fstatat(folder, headername.c_str(), &atname, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(atname.st_mode);
        if (replace)
            fd = createtemporary(regular ? &atname : nullptr);
        // Only where the folder forbids the temporary file, by its
        // permissions or its flags, is an existing header written in place.
        // Any other failure (no space, no inode left, no descriptor) leaves
        // the header name as it is.
        if (fd < 0 && exists && (!replace || errno == EACCES || errno == EPERM || errno == EROFS))
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
    const bool placed = !temporary || renameat(folder, tempname.c_str(), folder, headername.c_str()) == 0;
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
