#include "files.hpp"

#include <atomic>

#ifdef _WIN32

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>

std::string utf8(const wchar_t *s)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<std::size_t>(n) : 1u, '\0');
    if (n <= 0 || WideCharToMultiByte(CP_UTF8, 0, s, -1, &out[0], n, nullptr, nullptr) != n)
        return std::string();
    out.pop_back(); // the terminating zero
    return out;
}

// The names come from the wide argument vector as UTF-8, so they convert
// back without loss.
static std::wstring widen(const char *s)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
    std::wstring out(n > 0 ? static_cast<std::size_t>(n) : 1u, L'\0');
    if (n <= 0 || MultiByteToWideChar(CP_UTF8, 0, s, -1, &out[0], n) != n)
        return std::wstring();
    out.pop_back();
    return out;
}

// The incomplete header, deleted by the console handler, which runs on a
// thread of its own: whichever of it and keepheader takes the name first
// decides whether the header stays.
static std::wstring pendingname;
static std::atomic<const wchar_t *> pending{nullptr};

static BOOL WINAPI onconsole(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    // The header is open with FILE_SHARE_DELETE: it goes when its handle is
    // closed at the end of the process. The process ends here, with the
    // status a Ctrl-C gives, rather than in the default handler, which Wine
    // makes end with status 0.
    if (const wchar_t *name = pending.exchange(nullptr))
        DeleteFileW(name);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
    return TRUE;
}

std::FILE *openinput(const char *name)
{
    return _wfopen(widen(name).c_str(), L"rb");
}

// Volume serial number and file index name one file; the runtime's stat
// reports inode 0 for every file. A file whose identity can't be read is
// taken as the input: refusing it is safe, overwriting it is not.
static bool sameas(HANDLE h, std::FILE *in)
{
    BY_HANDLE_FILE_INFORMATION a, b;
    const auto input = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(in)));
    if (!GetFileInformationByHandle(h, &a) || !GetFileInformationByHandle(input, &b))
        return true;
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

std::FILE *createheader(const char *name, std::FILE *in)
{
    const std::wstring wname = widen(name);
    const HANDLE h = CreateFileW(wname.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    // A header that did not exist cannot be the input.
    if (GetLastError() == ERROR_ALREADY_EXISTS && sameas(h, in)) {
        CloseHandle(h);
        return nullptr;
    }
    pendingname = wname;
    pending = pendingname.c_str();
    SetConsoleCtrlHandler(onconsole, TRUE);
    const int fd = SetEndOfFile(h) ? _open_osfhandle(reinterpret_cast<std::intptr_t>(h), _O_TEXT) : -1;
    if (fd < 0) {
        CloseHandle(h);
        removeheader(name);
        return nullptr;
    }
    std::FILE *out = _fdopen(fd, "wt");
    if (!out) {
        _close(fd);
        removeheader(name);
        return nullptr;
    }
    return out;
}

void keepheader()
{
    // The console handler took the header first: it is deleted, and the
    // process is ending by the interruption.
    if (!pending.exchange(nullptr))
        for (;;)
            Sleep(INFINITE);
}

bool removeheader(const char *name)
{
    const std::wstring wname = widen(name);
    bool gone = _wremove(wname.c_str()) == 0;
    if (!gone) {
        const HANDLE h = CreateFileW(wname.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        gone = h != INVALID_HANDLE_VALUE;
        if (gone)
            CloseHandle(h);
    }
    pending = nullptr;
    return gone;
}

#else

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <initializer_list>

// The incomplete header, unlinked by the signal handler.
static std::atomic<const char *> pending{nullptr};
static_assert(std::atomic<const char *>::is_always_lock_free, "read in a signal handler");

extern "C" void onsignal(int sig)
{
    if (const char *name = pending.load())
        unlink(name);
    // The handler was reset to the default action on entry: the process
    // ends by the same signal, as its caller should see.
    (void)std::raise(sig);
}

// A signal that was ignored when the tool started stays ignored.
static void catchsignals()
{
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old = {};
        if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN)
            continue;
        struct sigaction sa = {};
        sa.sa_handler = onsignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESETHAND;
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

std::FILE *createheader(const char *name, std::FILE *in)
{
    catchsignals();
    const int fd = open(name, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    // A header whose identity can't be read is refused, as the input itself.
    struct stat hs, is;
    if (fstat(fd, &hs) != 0 || fstat(fileno(in), &is) != 0 || (hs.st_dev == is.st_dev && hs.st_ino == is.st_ino)) {
        close(fd);
        return nullptr;
    }
    // Not the input: from here on the header is ours to replace. A device
    // such as /dev/null has nothing to truncate.
    pending = name;
    if (S_ISREG(hs.st_mode) && ftruncate(fd, 0) != 0) {
        close(fd);
        pending = nullptr;
        return nullptr;
    }
    std::FILE *out = fdopen(fd, "w");
    if (!out) {
        close(fd);
        removeheader(name);
        return nullptr;
    }
    return out;
}

void keepheader()
{
    pending = nullptr;
}

bool removeheader(const char *name)
{
    // Where the directory forbids removing it, an empty header is still no
    // incomplete one.
    const bool gone = std::remove(name) == 0 || truncate(name, 0) == 0;
    pending = nullptr;
    return gone;
}

#endif
