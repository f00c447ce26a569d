// SPDX-License-Identifier: MIT
// The files of a run on Windows; the interface is files.hpp's.
#include "files.hpp"

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

// The longest file name that NTFS, FAT and exFAT take, in UTF-16 units.
constexpr std::wstring::size_type longestname = 255;

// A name as the wide-character API takes it at any length: its full path
// after \\?\ (\\?\UNC\ for a share), which lifts the limit of MAX_PATH
// characters, so that the temporary file beside a header whose name fits is
// made too. A name that has such a prefix already, or is a device (\\.\NUL),
// stays as it is.
static std::wstring fullname(const std::wstring &name)
{
    const DWORD n = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    std::wstring full(n > 0 ? n : 1u, L'\0');
    if (n == 0 || GetFullPathNameW(name.c_str(), n, &full[0], nullptr) != n - 1)
        return name;
    full.pop_back(); // the terminating zero
    if (full.compare(0, 2, L"\\\\") != 0)
        return L"\\\\?\\" + full;
    if (full.compare(0, 4, L"\\\\?\\") == 0 || full.compare(0, 4, L"\\\\.\\") == 0)
        return full;
    return L"\\\\?\\UNC" + full.substr(1);
}

// What a failure or an interruption removes: the temporary file, or a header
// written in place (emptied where it can't be deleted). The console handler
// runs on a thread of its own; the lock is held while a file is made and
// recorded, while it is renamed into place, and while the handler removes
// it, so the handler finds either nothing to remove or a file that must go.
static SRWLOCK lock = SRWLOCK_INIT;
static std::wstring headername, doomedname;
static bool doomed = false;
static bool temporary = false;                     // doomed is the temporary file, to be renamed into place
static HANDLE doomedhandle = INVALID_HANDLE_VALUE; // the doomed file's handle, while it may be open

// Removes what is doomed, with the lock held. Both kinds of file are open
// with FILE_SHARE_DELETE: a deleted one goes when its handle is closed.
static void removedoomed()
{
    if (doomed && !DeleteFileW(doomedname.c_str()) && !temporary) {
        const HANDLE h = CreateFileW(doomedname.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
    doomed = false;
}

static BOOL WINAPI onconsole(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT && event != CTRL_LOGOFF_EVENT &&
        event != CTRL_SHUTDOWN_EVENT)
        return FALSE;
    // The process ends here, with the status a Ctrl-C gives, rather than in
    // the default handler, which Wine makes end with status 0; the lock is
    // never given back. The file's handle is closed first: a file deleted
    // while open goes only when its last handle is closed, which for a
    // terminated process may be after its parent has seen it end. (Closed
    // already, if the driver closed the file: then this does nothing.)
    AcquireSRWLockExclusive(&lock);
    if (doomed)
        CloseHandle(doomedhandle);
    removedoomed();
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
    return TRUE;
}

void catchsignals()
{
    SetConsoleCtrlHandler(onconsole, TRUE);
}

std::FILE *openinput(const char *name)
{
    return _wfopen(widen(name).c_str(), L"rb");
}

// Volume serial number and file index name one file; the runtime's stat
// reports inode 0 for every file. Files of different kinds (a disk file and a
// pipe) are different files; otherwise a file whose identity can't be read is
// taken as the input: refusing it is safe, overwriting it is not.
static bool sameas(HANDLE h, std::FILE *in)
{
    BY_HANDLE_FILE_INFORMATION a, b;
    // The runtime gives the handle as an integer.
    const auto input = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(in))); // NOLINT(performance-no-int-to-ptr)
    if (GetFileType(h) != GetFileType(input))
        return false;
    if (!GetFileInformationByHandle(h, &a) || !GetFileInformationByHandle(input, &b))
        return true;
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// Random enough that runs started together choose different names: the
// process, the time and a counter, mixed (splitmix64).
static std::wstring randomtext()
{
    static std::uint64_t counter = 0;
    LARGE_INTEGER t = {};
    QueryPerformanceCounter(&t);
    std::uint64_t x = static_cast<std::uint64_t>(GetCurrentProcessId()) << 40 ^ static_cast<std::uint64_t>(t.QuadPart) ^
                      ++counter * 0x9E3779B97F4A7C15u;
    x = (x ^ x >> 30) * 0xBF58476D1CE4E5B9u;
    x = (x ^ x >> 27) * 0x94D049BB133111EBu;
    x ^= x >> 31;
    std::wstring s;
    for (int i = 0; i < 10; ++i, x >>= 5)
        s += L"abcdefghijklmnopqrstuvwxyz234567"[x & 31];
    return s;
}

// Where the header's own name starts in headername, after its folder.
static std::wstring::size_type nameat()
{
    const std::wstring::size_type end = headername.find_last_of(L"/\\:");
    return end == std::wstring::npos ? 0 : end + 1;
}

// Creates the temporary file beside the header, exclusively, and records it
// for removal; its handle, or INVALID_HANDLE_VALUE with the error in `error`.
static HANDLE createtemporary(DWORD &error)
{
    const std::wstring folder = headername.substr(0, nameat());
    for (int attempt = 0; attempt < 100; ++attempt) {
        AcquireSRWLockExclusive(&lock);
        doomedname = folder + L".bytetab-" + randomtext();
        const HANDLE h = CreateFileW(doomedname.c_str(), GENERIC_WRITE | DELETE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        error = GetLastError();
        doomed = temporary = h != INVALID_HANDLE_VALUE;
        doomedhandle = h;
        ReleaseSRWLockExclusive(&lock);
        if (h != INVALID_HANDLE_VALUE || error != ERROR_FILE_EXISTS)
            return h;
    }
    return INVALID_HANDLE_VALUE;
}

std::FILE *createheader(const char *name, std::FILE *in)
{
    headername = fullname(widen(name));
    // A name the folder can't hold fails now, not at the rename after the
    // whole conversion.
    if (headername.size() - nameat() > longestname)
        return nullptr;
    // An existing header, opened to compare it with the input and to find
    // whether the user may write it: a read-only file, or a folder, is
    // refused.
    HANDLE h = CreateFileW(headername.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_NOT_FOUND)
        return nullptr;
    if (h != INVALID_HANDLE_VALUE && sameas(h, in)) {
        CloseHandle(h);
        return nullptr;
    }
    // A device (NUL, a console, a pipe) is written as it is, never removed.
    if (h == INVALID_HANDLE_VALUE || GetFileType(h) == FILE_TYPE_DISK) {
        DWORD error = 0;
        const HANDLE t = createtemporary(error);
        if (t != INVALID_HANDLE_VALUE) {
            if (h != INVALID_HANDLE_VALUE)
                CloseHandle(h);
            h = t;
        } else if (h == INVALID_HANDLE_VALUE || (error != ERROR_ACCESS_DENIED && error != ERROR_WRITE_PROTECT)) {
            // No header to write in place, or a failure other than the
            // folder's refusal (a full disk, a name too long): the header
            // name stays as it is.
            if (h != INVALID_HANDLE_VALUE)
                CloseHandle(h);
            return nullptr;
        } else {
            // The folder takes no new file: the header is rewritten in place.
            AcquireSRWLockExclusive(&lock);
            doomedname = headername;
            doomed = true;
            doomedhandle = h;
            ReleaseSRWLockExclusive(&lock);
            if (!SetEndOfFile(h)) {
                // Not a byte of it replaced yet: it stays as it was.
                AcquireSRWLockExclusive(&lock);
                doomed = false;
                ReleaseSRWLockExclusive(&lock);
                CloseHandle(h);
                return nullptr;
            }
        }
    }
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(h), _O_TEXT);
    std::FILE *out = fd < 0 ? nullptr : _fdopen(fd, "wt");
    if (!out) {
        if (fd < 0)
            CloseHandle(h);
        else
            _close(fd);
        dropheader();
    }
    return out;
}

// A rename over a file that another process has open, or is replacing at
// the same moment (another run on the same file), is refused for a while:
// it is tried again for up to a second.
bool placeheader()
{
    for (int attempt = 0;; ++attempt) {
        AcquireSRWLockExclusive(&lock);
        const bool placed =
            !doomed || !temporary || MoveFileExW(doomedname.c_str(), headername.c_str(), MOVEFILE_REPLACE_EXISTING);
        const DWORD error = GetLastError();
        if (placed)
            doomed = false;
        ReleaseSRWLockExclusive(&lock);
        if (placed || attempt == 50 || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION))
            return placed;
        Sleep(20);
    }
}

void dropheader()
{
    AcquireSRWLockExclusive(&lock);
    removedoomed();
    ReleaseSRWLockExclusive(&lock);
}
