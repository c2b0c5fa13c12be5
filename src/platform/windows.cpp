// Windows backend of the platform layer, made of KERNEL32's file API alone.
// Paths are already in this system's form: "\\" between names.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <vector>

#include "platform/names.h"
#include "platform/platform.h"

// Tells the MinGW start-up code to leave wildcard arguments alone: only the
// directory arguments of "c" are patterns, and the program expands those
// itself (patternMatches). The runtime's own name, outside every namespace.
extern "C" {
int _dowildcard = 0;  // NOLINT(bugprone-reserved-identifier): the runtime's name
}

namespace dat::detail {

namespace {

// GetLastError of the last call that failed, kept before anything else runs;
// one per thread, as the library's archives may be opened from several.
thread_local DWORD lastCode = 0;

// Notes the error and passes result through, for one-line failure paths.
template <typename T>
T noted(T result) {
    lastCode = GetLastError();
    return result;
}

// ReadFile and WriteFile take a 32-bit count; larger transfers go in pieces.
constexpr size_t maxPiece = size_t(1) << 30;

// File keeps the handle as an integer so that no system header leaks into
// the rest of the program.
HANDLE handleOf(const File& f) {
    return reinterpret_cast<HANDLE>(f.handle);  // NOLINT(performance-no-int-to-ptr)
}

File fileFrom(HANDLE h) {
    // INVALID_HANDLE_VALUE is -1, the closed value of File.
    return File(reinterpret_cast<intptr_t>(h));
}

// Opens what a path leads to, links followed, only to ask about it: no data
// access is asked for, so files others hold open without sharing (the
// archive being written, for one) can be identified too.
HANDLE openForQuery(const std::string& path) {
    return CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

FileId idFrom(const BY_HANDLE_FILE_INFORMATION& info) {
    return {info.dwVolumeSerialNumber, uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
}

uint64_t sizeFrom(DWORD high, DWORD low) {
    return uint64_t(high) << 32 | low;
}

bool queryPath(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    HANDLE h = openForQuery(path);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    return ok;
}

// The system's text for an error, in the user's language, without the
// line break it ends in.
std::string errorText(DWORD code) {
    char text[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                             text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) --n;
    if (n == 0) return "error " + std::to_string(code);
    return std::string(text, n);
}

bool missingError(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

File fileOpenRead(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    return fileFrom(h == INVALID_HANDLE_VALUE ? noted(h) : h);
}

size_t fileRead(File& f, void* buf, size_t n) {
    size_t done = 0;
    auto* p = static_cast<char*>(buf);
    while (done < n) {
        DWORD got = 0;
        auto want = static_cast<DWORD>(n - done < maxPiece ? n - done : maxPiece);
        if (!ReadFile(handleOf(f), p + done, want, &got, nullptr)) noted(got = 0);
        if (got == 0) break;
        done += got;
    }
    f.pos += done;
    return done;
}

size_t fileReadAt(const File& f, uint64_t offset, void* buf, size_t n) {
    size_t done = 0;
    auto* p = static_cast<char*>(buf);
    while (done < n) {
        // The offset travels with the call, so no shared position is used.
        OVERLAPPED at{};
        const uint64_t from = offset + done;
        at.Offset = static_cast<DWORD>(from);
        at.OffsetHigh = static_cast<DWORD>(from >> 32);
        DWORD got = 0;
        auto want = static_cast<DWORD>(n - done < maxPiece ? n - done : maxPiece);
        if (!ReadFile(handleOf(f), p + done, want, &got, &at) || got == 0) break;
        done += got;
    }
    return done;
}

size_t fileWrite(File& f, const void* buf, size_t n) {
    size_t done = 0;
    const auto* p = static_cast<const char*>(buf);
    while (done < n) {
        DWORD put = 0;
        auto want = static_cast<DWORD>(n - done < maxPiece ? n - done : maxPiece);
        if (!WriteFile(handleOf(f), p + done, want, &put, nullptr)) noted(put = 0);
        if (put == 0) break;
        done += put;
    }
    f.pos += done;
    return done;
}

uint64_t filePosition(const File& f) {
    return f.pos;
}

bool fileSeek(File& f, uint64_t pos) {
    if (pos > static_cast<uint64_t>(INT64_MAX)) return false;
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(pos);
    if (!SetFilePointerEx(handleOf(f), to, nullptr, FILE_BEGIN)) return noted(false);
    f.pos = pos;
    return true;
}

uint64_t fileLength(const File& f) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handleOf(f), &size) || size.QuadPart < 0) return 0;
    return static_cast<uint64_t>(size.QuadPart);
}

bool fileIsRegular(const File& f) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileType(handleOf(f)) == FILE_TYPE_DISK && GetFileInformationByHandle(handleOf(f), &info) &&
           !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool regularFileId(const File& f, FileId& id) {
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(handleOf(f)) != FILE_TYPE_DISK || !GetFileInformationByHandle(handleOf(f), &info))
        return false;
    id = idFrom(info);
    return !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool fileClose(File& f) {
    if (f.handle == -1) return true;
    bool ok = CloseHandle(handleOf(f)) != 0 || noted(false);
    f.handle = -1;
    return ok;
}

FileId fileIdOf(const File& f) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handleOf(f), &info)) return {};
    return idFrom(info);
}

PathKind pathKind(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::missing;
    // Symbolic links and junctions are reparse points; their attributes are
    // the link's own, so nothing here follows them.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return PathKind::link;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::directory;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return PathKind::other;
    return PathKind::file;
}

namespace {

HANDLE dirHandle(const Dir& d) {
    return reinterpret_cast<HANDLE>(d.handle);  // NOLINT(performance-no-int-to-ptr)
}

// A directory is held with read access and without delete sharing: while
// the handle lives nobody can open it for deletion, which renaming and
// removing need.
HANDLE holdDirectory(const std::string& path) {
    return CreateFileA(path.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The few outcomes of NtCreateFile that are told apart.
constexpr auto nameNotFound = static_cast<NTSTATUS>(0xC0000034);
constexpr auto nameCollision = static_cast<NTSTATUS>(0xC0000035);
constexpr auto pathNotFound = static_cast<NTSTATUS>(0xC000003A);
constexpr auto noResources = static_cast<NTSTATUS>(0xC000009A);
constexpr auto tooManyOpened = static_cast<NTSTATUS>(0xC000011F);
constexpr auto notImplemented = static_cast<NTSTATUS>(0xC0000002);

using NtCreateFileCall = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                          PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);

// NtCreateFile opens a name relative to a directory's handle, which no
// call of the file API does. It is looked up at run time, so the program
// still imports from KERNEL32 and the C runtime alone.
NtCreateFileCall ntCreateFile() {
    static const auto call = reinterpret_cast<NtCreateFileCall>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtCreateFile")));
    return call;
}

// Notes a failed NtCreateFile as the system error it stands for, so that
// lastError has its text.
void noteStatus(NTSTATUS status) {
    using Convert = ULONG(NTAPI*)(NTSTATUS);
    static const auto convert = reinterpret_cast<Convert>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlNtStatusToDosError")));
    lastCode = convert ? convert(status) : ERROR_GEN_FAILURE;
}

// Opens or makes name inside the directory parent holds, relative to its
// handle: no path is resolved by name again, so a parent that became a
// junction since it was opened is not followed, nor a link at name itself.
HANDLE openIn(const Dir& parent, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
              ULONG options, NTSTATUS& status) {
    const NtCreateFileCall create = ntCreateFile();
    if (!create) {
        status = notImplemented;
        return INVALID_HANDLE_VALUE;
    }
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, dirHandle(parent), nullptr);
    IO_STATUS_BLOCK io;
    HANDLE h = nullptr;
    status = create(&h, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &attributes, &io, nullptr,
                    FILE_ATTRIBUTE_NORMAL, share, disposition,
                    options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (status < 0) noteStatus(status);
    return status >= 0 ? h : INVALID_HANDLE_VALUE;
}

bool missingStatus(NTSTATUS status) {
    return status == nameNotFound || status == pathNotFound;
}

// The name as Windows reads it in the program's code page; false when it
// is no text there.
bool wideName(const std::string& name, std::wstring& out) {
    std::u16string wide;
    if (!toUtf16(name, CP_ACP, wide)) return false;
    out.assign(wide.begin(), wide.end());
    return true;
}

// The full path the system gives what h holds, from the volume's device
// down, in long names throughout; empty when it cannot be had.
std::wstring finalPath(HANDLE h) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetFinalPathNameByHandleW(h, &path[0], static_cast<DWORD>(path.size()),
                                                  FILE_NAME_NORMALIZED | VOLUME_NAME_NT);
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(n);  // too small: n counts the terminator then
    }
}

// The path of what h holds within its volume, as the file system gives it:
// the names it was opened by, which may be short ones.
std::wstring volumePath(HANDLE h) {
    std::vector<char> buffer(sizeof(FILE_NAME_INFO) + 32768 * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    if (!GetFileInformationByHandleEx(h, FileNameInfo, info, static_cast<DWORD>(buffer.size()))) return {};
    return std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t));
}

// Whether what h holds is found at parent's path under name, up to case.
// A short name opens a file of another name, and anything that led
// elsewhere shows another path; either way the item is not the one stored.
// The final path gives long names throughout; where the system gives none
// (wine, past 260 characters), both paths are taken as the file system
// names them.
bool foundAs(const Dir& parent, HANDLE h, const std::wstring& name) {
    std::wstring want = parent.path;
    std::wstring got = finalPath(h);
    if (got.empty()) {
        want = volumePath(dirHandle(parent));
        got = volumePath(h);
    }
    if (want.empty() || got.empty()) return false;
    if (want.back() != L'\\') want += L'\\';
    want += name;
    return CompareStringOrdinal(got.c_str(), static_cast<int>(got.size()), want.c_str(),
                                static_cast<int>(want.size()), TRUE) == CSTR_EQUAL;
}

// Removes through its own handle whatever stands at name inside parent,
// unless it is a directory (a link to one goes, not what it leads to) or
// is found under another name. Without delete sharing nobody can rename it
// between the check and the removal.
bool removeIn(const Dir& parent, const std::wstring& name) {
    NTSTATUS status = 0;
    HANDLE h = openIn(parent, name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN, 0, status);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    FILE_DISPOSITION_INFO gone;
    gone.DeleteFile = TRUE;
    const bool removed = GetFileInformationByHandle(h, &info) &&
                         (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
                          (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) &&
                         foundAs(parent, h, name) &&
                         SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone);
    CloseHandle(h);
    return removed;
}

// Marks a file this program just made to go when its handle closes.
void backOut(HANDLE h) {
    FILE_DISPOSITION_INFO gone;
    gone.DeleteFile = TRUE;
    SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone);
}

// What stands at name inside parent, told from its attributes, when it
// would not open as a directory.
DirOpened kindIn(const Dir& parent, const std::wstring& name) {
    NTSTATUS status = 0;
    HANDLE h =
        openIn(parent, name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, 0, status);
    if (h == INVALID_HANDLE_VALUE) return DirOpened::failed;
    BY_HANDLE_FILE_INFORMATION info;
    DirOpened step = DirOpened::failed;
    if (GetFileInformationByHandle(h, &info)) {
        if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            step = DirOpened::link;
        else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            step = DirOpened::notDirectory;
    }
    CloseHandle(h);
    return step;
}

// "." is the parent itself, which NtCreateFile does not resolve: out holds
// a copy of the parent's handle.
DirOpened openSelf(const Dir& parent, Dir& out) {
    HANDLE h = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), dirHandle(parent), GetCurrentProcess(), &h, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return GetLastError() == ERROR_TOO_MANY_OPEN_FILES ? DirOpened::exhausted : DirOpened::failed;
    out = Dir();
    out.handle = reinterpret_cast<intptr_t>(h);
    out.path = parent.path;
    return DirOpened::opened;
}

// What h, opened as wide inside parent, holds. A junction or a link to a
// directory opens as itself; a directory found under another name (a short
// one) is not the one asked for.
DirOpened openedAs(const Dir& parent, HANDLE h, const std::wstring& wide) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return DirOpened::failed;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return DirOpened::link;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && foundAs(parent, h, wide))
        return DirOpened::opened;
    return DirOpened::failed;
}

}  // namespace

Dir dirAt(const std::string& path) {
    Dir d;
    HANDLE h = holdDirectory(path);
    if (h == INVALID_HANDLE_VALUE) return d;
    d.path = finalPath(h);
    d.handle = reinterpret_cast<intptr_t>(h);
    return d;
}

void dirClose(Dir& d) {
    if (d.handle != -1) CloseHandle(dirHandle(d));
    d.handle = -1;
}

DirOpened dirOpen(const Dir& parent, const std::string& name, Dir& out) {
    if (name == ".") return openSelf(parent, out);
    std::wstring wide;
    if (!wideName(name, wide)) return DirOpened::failed;
    NTSTATUS status = 0;
    HANDLE h = openIn(parent, wide, FILE_LIST_DIRECTORY | FILE_TRAVERSE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      FILE_OPEN, FILE_DIRECTORY_FILE, status);
    if (h == INVALID_HANDLE_VALUE) {
        if (missingStatus(status)) return DirOpened::missing;
        if (status == tooManyOpened || status == noResources) return DirOpened::exhausted;
        return kindIn(parent, wide);
    }
    const DirOpened step = openedAs(parent, h, wide);
    if (step != DirOpened::opened) {
        CloseHandle(h);
        return step;
    }
    out = Dir();
    out.handle = reinterpret_cast<intptr_t>(h);
    out.path = finalPath(h);
    return step;
}

bool dirMake(const Dir& parent, const std::string& name) {
    std::wstring wide;
    if (!wideName(name, wide)) return false;
    NTSTATUS status = 0;
    HANDLE h = openIn(parent, wide, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
                      FILE_DIRECTORY_FILE, status);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

namespace {

// Makes name inside parent, failing on anything standing there, a link
// included, which is never followed. Delete sharing lets a caught signal
// remove the file through a handle of its own while it is written. What
// was made must be a file on a disk under the name asked for; if not, it
// goes again before anything is written.
HANDLE createIn(const Dir& parent, const std::wstring& name, ACCESS_MASK access, NTSTATUS& status) {
    HANDLE h = openIn(parent, name, access | DELETE, FILE_SHARE_DELETE, FILE_CREATE, FILE_NON_DIRECTORY_FILE,
                      status);
    if (h == INVALID_HANDLE_VALUE) return h;
    if (GetFileType(h) != FILE_TYPE_DISK || !foundAs(parent, h, name)) {
        backOut(h);
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

// The attributes of what stands at name inside parent, a link itself.
bool attributesIn(const Dir& parent, const std::wstring& name, DWORD& attributes) {
    NTSTATUS status = 0;
    HANDLE h =
        openIn(parent, name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, 0, status);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (ok) attributes = info.dwFileAttributes;
    return ok;
}

bool linkToDirectory(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

using NtSetInformationFileCall = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                                  FILE_INFORMATION_CLASS);

// Renames the file h holds to name inside parent, replacing what stands
// there unless told not to. NtSetInformationFile takes the new name
// relative to the parent's handle as it is; the file API would read it as
// a path first. Looked up at run time, as NtCreateFile is.
bool renameTo(HANDLE h, const Dir& parent, const std::wstring& name, BOOLEAN replace = TRUE) {
    static const auto call = reinterpret_cast<NtSetInformationFileCall>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSetInformationFile")));
    if (!call) return false;
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = replace;
    info->RootDirectory = dirHandle(parent);
    info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, name.data(), info->FileNameLength);
    IO_STATUS_BLOCK io;
    return call(h, &io, info, static_cast<ULONG>(buffer.size()), FileRenameInformation) >= 0;
}

}  // namespace

File fileCreateIn(const Dir& parent, const std::string& name, bool& taken) {
    taken = false;
    std::wstring wide;
    if (!wideName(name, wide)) return File();
    NTSTATUS status = 0;
    HANDLE h = createIn(parent, wide, GENERIC_WRITE, status);
    taken = h == INVALID_HANDLE_VALUE && status == nameCollision;
    return fileFrom(h);
}

bool isDirectoryIn(const Dir& parent, const std::string& name) {
    std::wstring wide;
    DWORD attributes = 0;
    return wideName(name, wide) && attributesIn(parent, wide, attributes) &&
           (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

File tempFileIn(const Dir& parent, const std::string& name, std::string& temp) {
    // Seeded afresh at each call, so that nothing outlives it: two calls
    // within one tick of the counter only try a taken name first.
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    uint32_t state = GetTickCount() ^ (GetCurrentProcessId() << 16) ^ static_cast<uint32_t>(now.QuadPart);
    for (int tries = 0; tries < 100; ++tries) {
        state = state * 1664525u + 1013904223u;
        temp = tempNameFor(name, state);
        std::wstring wide;
        if (!wideName(temp, wide)) break;
        NTSTATUS status = 0;
        HANDLE h = createIn(parent, wide, GENERIC_READ | GENERIC_WRITE, status);
        if (h != INVALID_HANDLE_VALUE) return fileFrom(h);
        if (status != nameCollision) break;
    }
    temp.clear();
    return File();
}

File fileOpenReadIn(const Dir& parent, const std::string& name) {
    std::wstring wide;
    if (!wideName(name, wide)) return File();
    NTSTATUS status = 0;
    return fileFrom(openIn(parent, wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, FILE_OPEN,
                           FILE_NON_DIRECTORY_FILE, status));
}

// The rename goes through the file's own handle, to a name relative to
// the held parent, replacing what stands there: no path is resolved by
// name, as MoveFileEx with MOVEFILE_REPLACE_EXISTING would.
bool renameIn(const Dir& parent, const std::string& from, const std::string& to) {
    std::wstring source, target;
    if (!wideName(from, source) || !wideName(to, target)) return false;
    // Nor is a file replaced that target finds under another of its names
    // (a short one).
    NTSTATUS status = 0;
    HANDLE there = openIn(parent, target, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          FILE_OPEN, 0, status);
    if (there != INVALID_HANDLE_VALUE) {
        const bool own = foundAs(parent, there, target);
        CloseHandle(there);
        if (!own) return false;
    }
    HANDLE h = openIn(parent, source, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      FILE_OPEN, FILE_NON_DIRECTORY_FILE, status);
    if (h == INVALID_HANDLE_VALUE) return false;
    auto rename = [&] { return renameTo(h, parent, target); };
    // A link to a directory is no directory to keep, but only its own
    // removal takes it away.
    DWORD attributes = 0;
    const bool renamed = rename() || (attributesIn(parent, target, attributes) &&
                                      linkToDirectory(attributes) && removeIn(parent, target) && rename());
    CloseHandle(h);
    return renamed;
}

bool removeIn(const Dir& parent, const std::string& name) {
    std::wstring wide;
    return wideName(name, wide) && removeIn(parent, wide);
}

// Without ReplaceIfExists the system refuses a name that is taken, by
// whatever stands there.
bool renameNewIn(const Dir& parent, const std::string& from, const std::string& to, bool& taken) {
    taken = false;
    std::wstring source, target;
    if (!wideName(from, source) || !wideName(to, target)) return false;
    NTSTATUS status = 0;
    HANDLE h = openIn(parent, source, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      FILE_OPEN, FILE_NON_DIRECTORY_FILE, status);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool renamed = renameTo(h, parent, target, FALSE);
    CloseHandle(h);
    DWORD attributes = 0;
    taken = !renamed && attributesIn(parent, target, attributes);
    if (taken) lastCode = ERROR_FILE_EXISTS;
    return renamed;
}

// The name is taken as the path gives it: a dangling link there is not
// followed, and a new archive then fails to take its place.
Dir dirForNew(const std::string& path, std::string& name) {
    Dir d;
    char full[MAX_PATH];
    char* base = nullptr;
    const DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, full, &base);
    if (n == 0 || n >= MAX_PATH || !base || base == full) {
        lastCode = n == 0 ? GetLastError() : ERROR_INVALID_NAME;
        return d;
    }
    name = base;
    std::string dir(full, static_cast<size_t>(base - full - 1));
    HANDLE h = holdDirectory(dir.size() == 2 && dir[1] == ':' ? dir + "\\" : dir);
    if (h == INVALID_HANDLE_VALUE) return noted(std::move(d));
    d.path = finalPath(h);
    d.handle = reinterpret_cast<intptr_t>(h);
    return d;
}

Dir dirHolding(const File& f, const std::string& path, std::string& name) {
    Dir d;
    char full[MAX_PATH];
    char* base = nullptr;
    const DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, full, &base);
    if (n == 0 || n >= MAX_PATH || !base || base == full) return d;
    name = base;
    std::string dir(full, static_cast<size_t>(base - full - 1));
    // A drive's root is opened as "C:\", never "C:", the drive's current directory.
    HANDLE h = holdDirectory(dir.size() == 2 && dir[1] == ':' ? dir + "\\" : dir);
    if (h == INVALID_HANDLE_VALUE) return d;
    d.path = finalPath(h);
    d.handle = reinterpret_cast<intptr_t>(h);
    // The path may have changed since f was opened through it.
    std::wstring wide;
    NTSTATUS status = 0;
    HANDLE there = wideName(name, wide)
                       ? openIn(d, wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                                FILE_NON_DIRECTORY_FILE, status)
                       : INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION info;
    const bool same = there != INVALID_HANDLE_VALUE && GetFileInformationByHandle(there, &info) &&
                      idFrom(info) == fileIdOf(f) && !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (there != INVALID_HANDLE_VALUE) CloseHandle(there);
    if (!same) dirClose(d);
    return d;
}

namespace {

// What a caught signal removes, through a handle of its own. The
// program's only state kept outside a value, since a signal handler can
// reach nothing else.
volatile LONG cleanupArmed = 0;
const Dir* cleanupDir = nullptr;
std::wstring cleanupName;

// Signals cannot be blocked here: Ctrl+C runs its handler on a thread of
// its own. The handler takes this lock first, which a hold keeps, and so
// waits for the hold to end; a critical section lets its own thread, which
// raise runs the handler on, in again.
CRITICAL_SECTION& signalLock() {
    static struct Lock {
        CRITICAL_SECTION section;
        Lock() { InitializeCriticalSection(&section); }
    } lock;
    return lock.section;
}

// C linkage, as the system calls it; static, as a C name in a namespace
// would still be global.
extern "C" {
static void removeAndDie(int sig) {
    EnterCriticalSection(&signalLock());
    if (cleanupArmed) removeIn(*cleanupDir, cleanupName);
    signal(sig, SIG_DFL);
    raise(sig);
}
}

}  // namespace

void catchSignals() {
    signal(SIGINT, removeAndDie);
    signal(SIGTERM, removeAndDie);
}

void removeOnSignal(const Dir* dir, const std::string& name) {
    cleanupArmed = 0;
    if (!dir || !wideName(name, cleanupName)) return;
    cleanupDir = dir;
    cleanupArmed = 1;
}

void holdSignals() {
    EnterCriticalSection(&signalLock());
}

void releaseSignals() {
    LeaveCriticalSection(&signalLock());
}

bool nameAllowed(const std::string& name) {
    if (name == "." || name == "..") return true;
    return windowsNameFault(name, CP_ACP) == NameFault::none;
}

bool toUtf16(const std::string& name, unsigned codePage, std::u16string& out) {
    out.clear();
    if (name.empty()) return true;
    const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, name.data(),
                                      static_cast<int>(name.size()), nullptr, 0);
    if (n <= 0) return false;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, name.data(), static_cast<int>(name.size()),
                            &wide[0], n) != n)
        return false;
    out.assign(wide.begin(), wide.end());
    return true;
}

// Handles are not counted against a limit here.
void raiseHandleLimit() {}

bool removeFile(const std::string& path) {
    return DeleteFileA(path.c_str()) != 0 || noted(false);
}

bool makeDirectories(const std::string& path) {
    // Each prefix that ends before a separator, failures ignored: a
    // drive, a root or a share cannot be made and need not be. Only the
    // whole decides.
    for (size_t at = path.find_first_of("\\/", 1);; at = path.find_first_of("\\/", at + 1)) {
        const std::string above = path.substr(0, at);
        const bool last = at == std::string::npos;
        if (!above.empty() && above.back() != ':' && !CreateDirectoryA(above.c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS && last)
            return noted(false);
        if (last) return true;
    }
}

bool enterDirectory(const std::string& path, Visit& visit) {
    const DWORD length = GetCurrentDirectoryW(0, nullptr);
    std::wstring home(length, L'\0');
    if (length == 0 || GetCurrentDirectoryW(length, home.data()) + 1 != length) return noted(false);
    home.resize(length - 1);
    if (!SetCurrentDirectoryA(path.c_str())) return noted(false);
    leaveDirectory(visit);
    visit.homePath = home;
    visit.away = true;
    return true;
}

bool leaveDirectory(Visit& visit) {
    if (!visit.away) return true;
    visit.away = false;
    return SetCurrentDirectoryW(visit.homePath.c_str()) != 0 || noted(false);
}

namespace {

// The item that the enumeration of the directory at path found. The
// enumeration describes the name itself; what it leads to, and its
// identity, come from opening it.
DirItem itemOf(const std::string& path, const WIN32_FIND_DATAA& found) {
    DirItem item;
    item.name = found.cFileName;
    item.link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    BY_HANDLE_FILE_INFORMATION info;
    if (!queryPath(path + "\\" + item.name, info)) {
        // Listed but not to be opened, even only to ask about it.
        bool dangling = item.link && missingError(GetLastError());
        item.kind = dangling ? ItemKind::dangling : ItemKind::unreadable;
        if (!dangling) item.reason = errorText(GetLastError());
        return item;
    }
    item.id = idFrom(info);
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        item.kind = ItemKind::directory;
    } else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE)) {
        item.kind = ItemKind::file;
        item.size = sizeFrom(info.nFileSizeHigh, info.nFileSizeLow);
    }
    return item;
}

}  // namespace

bool listDirectory(const std::string& path, std::vector<DirItem>& items) {
    items.clear();
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return noted(false);
    do {
        if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0) continue;
        items.push_back(itemOf(path, found));
    } while (FindNextFileA(find, &found));
    // ERROR_NO_MORE_FILES is the normal end. Any other error ends the
    // enumeration too, so no item repeats, but leaves it incomplete, which
    // is reported rather than passed off as the whole directory.
    bool whole = GetLastError() == ERROR_NO_MORE_FILES;
    if (!whole) noted(false);
    FindClose(find);
    return whole;
}

bool directoryId(const std::string& path, FileId& id) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!queryPath(path, info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    id = idFrom(info);
    return true;
}

// One path with its terminator fills the system's 260-byte path buffers.
size_t maxPathLength() {
    return MAX_PATH - 1;
}

bool backslashSeparates() {
    return true;
}

bool isPattern(const std::string& arg) {
    return arg.find_first_of("*?") != std::string::npos;
}

// The system matches the last name of the pattern, case-insensitively as it
// compares names; what comes before it is kept as typed.
std::vector<std::string> patternMatches(const std::string& pattern, NameOrder before) {
    std::vector<std::string> found;
    const size_t cut = pattern.find_last_of("\\/:");
    const std::string head = cut == std::string::npos ? "" : pattern.substr(0, cut + 1);
    WIN32_FIND_DATAA item;
    HANDLE find = FindFirstFileA(pattern.c_str(), &item);
    if (find == INVALID_HANDLE_VALUE) return found;
    do {
        if (std::strcmp(item.cFileName, ".") != 0 && std::strcmp(item.cFileName, "..") != 0)
            found.push_back(head + item.cFileName);
    } while (FindNextFileA(find, &item));
    FindClose(find);
    std::sort(found.begin(), found.end(), before);
    return found;
}

std::string lastError() {
    return errorText(lastCode);
}

namespace {

HANDLE outputHandle() {
    return GetStdHandle(STD_OUTPUT_HANDLE);
}

}  // namespace

File fileOpenWrite(const std::string& path, bool* missing) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, missing ? OPEN_EXISTING : OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) noted(h);
    if (missing) *missing = h == INVALID_HANDLE_VALUE && lastCode == ERROR_FILE_NOT_FOUND;
    return fileFrom(h);
}

bool fileFinalMode(File&, const File*, bool& ownerKept) {
    ownerKept = true;
    return true;
}

bool fileTruncate(File& f) {
    if (!fileIsRegular(f)) return true;
    return fileSeek(f, 0) && (SetEndOfFile(handleOf(f)) != 0 || noted(false));
}

// A handle the process was started without stays missing: files opened
// later get handles of their own, never a standard one, so only the loss
// of standard output needs telling.
bool reopenStandardStreams() {
    HANDLE h = outputHandle();
    return h == nullptr || h == INVALID_HANDLE_VALUE;
}

bool outputIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(outputHandle(), &mode) != 0;
}

size_t outputPending() {
    return 0;
}

bool errorIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool terminalTakesUtf8() {
    return false;
}

// A file on disk is known by its identity, the console by its mode: the
// null device has none, so it is never taken for standard output.
bool isStandardOutput(const File& f) {
    HANDLE out = outputHandle();
    const DWORD type = GetFileType(out);
    if (type != GetFileType(handleOf(f))) return false;
    if (type == FILE_TYPE_CHAR) {
        DWORD mode = 0;
        return GetConsoleMode(out, &mode) != 0 && GetConsoleMode(handleOf(f), &mode) != 0;
    }
    BY_HANDLE_FILE_INFORMATION a, b;
    return type == FILE_TYPE_DISK && GetFileInformationByHandle(out, &a) &&
           GetFileInformationByHandle(handleOf(f), &b) && idFrom(a) == idFrom(b);
}

}  // namespace dat::detail
