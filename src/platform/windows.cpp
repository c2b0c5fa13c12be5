// Windows backend of the platform layer, made of KERNEL32's file API alone.
// Paths are already in this system's form: "\\" between names.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winioctl.h>
#include <winternl.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <vector>

#include "platform/copying.h"
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

// The name as Windows reads it in the program's code page; false when it
// is no text there.
bool wideName(const std::string& name, std::wstring& out) {
    std::u16string wide;
    if (!toUtf16(name, CP_ACP, wide)) return false;
    out.assign(wide.begin(), wide.end());
    return true;
}

// The name Windows lists, in the program's code page: false when some
// character has no exact form there, and out then shows each such one as
// "?". Never a best-fit substitute, which would give "password.txt" for
// the name of another file in full-width letters, or ".." for two
// full-width full stops.
bool ansiName(const std::wstring& wide, std::string& out) {
    out.clear();
    if (wide.empty()) return true;
    // UTF-8 takes neither the flag nor the question whether a character
    // was replaced; the way back tells that for every code page.
    const UINT codePage = GetACP();
    const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int n = WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                      nullptr, nullptr);
    if (n <= 0) return false;
    out.resize(static_cast<size_t>(n));
    BOOL replaced = FALSE;
    WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), &out[0], n, nullptr,
                        codePage == CP_UTF8 ? nullptr : &replaced);
    std::wstring back;
    return !replaced && wideName(out, back) && back == wide;
}

// Opens what a path leads to, links followed, only to ask about it: no data
// access is asked for, so files others hold open without sharing (the
// archive being written, for one) can be identified too.
HANDLE openForQuery(const std::wstring& path) {
    return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

FileId idFrom(const BY_HANDLE_FILE_INFORMATION& info) {
    return {info.dwVolumeSerialNumber, uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
}

uint64_t sizeFrom(DWORD high, DWORD low) {
    return uint64_t(high) << 32 | low;
}

bool queryPath(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
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

// A junction's substitute name, as its reparse point stores it; empty when
// it cannot be read.
std::u16string junctionTarget(HANDLE h) {
    std::vector<char> data(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    DWORD got = 0;
    if (!DeviceIoControl(h, FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(), static_cast<DWORD>(data.size()),
                         &got, nullptr))
        return {};
    // Tag, length and a reserved word; then the substitute name's offset and
    // length in bytes, within the names that start at byte 16.
    WORD offset = 0, length = 0;
    if (got < 16) return {};
    std::memcpy(&offset, data.data() + 8, sizeof offset);
    std::memcpy(&length, data.data() + 10, sizeof length);
    if (16 + size_t(offset) + length > got) return {};
    std::u16string target(length / sizeof(char16_t), u'\0');
    std::memcpy(&target[0], data.data() + 16 + offset, target.size() * sizeof(char16_t));
    return target;
}

// The attributes of what h holds, opened at a reparse point rather than
// through it, and whether that reparse point makes it a link: a reparse
// point of any other kind is the item itself (see reparseIsLink).
bool lookAt(HANDLE h, DWORD& attributes, bool& link) {
    FILE_ATTRIBUTE_TAG_INFO info;
    if (!GetFileInformationByHandleEx(h, FileAttributeTagInfo, &info, sizeof info)) return noted(false);
    attributes = info.FileAttributes;
    link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           reparseIsLink(info.ReparseTag, info.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT ? junctionTarget(h)
                                                                                        : std::u16string());
    return true;
}

}  // namespace

// Paths, like names, are read in the code page and must be text there.
File fileOpenRead(const std::string& path) {
    std::wstring wide;
    if (!wideName(path, wide)) {
        lastCode = ERROR_NO_UNICODE_TRANSLATION;
        return File();
    }
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    return fileFrom(h == INVALID_HANDLE_VALUE ? noted(h) : h);
}

File fileOpenReadShared(const std::string& path) {
    std::wstring wide;
    if (!wideName(path, wide)) {
        lastCode = ERROR_NO_UNICODE_TRANSLATION;
        return File();
    }
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
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

// The system has no copy that spares the program the bytes: they go
// through a buffer.
// The system has no copy that spares the program the bytes.
uint64_t fileCopy(const File& from, uint64_t at, File& to, uint64_t n, bool& toFailed) {
    return copyThrough(from, at, to, n, toFailed);
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
    // the link's own, so nothing here follows them. Other reparse points
    // are what they mark; one that cannot be looked at counts as a link.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        HANDLE h =
            CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        bool link = true;
        if (h != INVALID_HANDLE_VALUE) {
            if (!lookAt(h, attributes, link)) link = true;
            CloseHandle(h);
        }
        if (link) return PathKind::link;
    }
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
// junction since it was opened is not followed, nor a reparse point at name
// itself, unless through is set: then it acts, as on a path.
HANDLE openIn(const Dir& parent, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
              ULONG options, NTSTATUS& status, bool through = false) {
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
    status =
        create(&h, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &attributes, &io, nullptr,
               FILE_ATTRIBUTE_NORMAL, share, disposition,
               options | (through ? 0 : FILE_OPEN_REPARSE_POINT) | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (status < 0) noteStatus(status);
    return status >= 0 ? h : INVALID_HANDLE_VALUE;
}

bool missingStatus(NTSTATUS status) {
    return status == nameNotFound || status == pathNotFound;
}

// The full path the system gives what h holds, from the volume's device
// down (or its GUID name, or its drive), in long names throughout; empty
// when it cannot be had.
std::wstring finalPath(HANDLE h, DWORD volume = VOLUME_NAME_NT) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetFinalPathNameByHandleW(h, &path[0], static_cast<DWORD>(path.size()),
                                                  FILE_NAME_NORMALIZED | volume);
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(n);  // too small: n counts the terminator then
    }
}

using NtQueryDirectoryFileCall = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID,
                                                  ULONG, ULONG, BOOLEAN, PUNICODE_STRING, BOOLEAN);

// Whether name is the long name of what h holds inside parent, as the
// directory lists it: the one entry that name matches, by its long name or
// its short one, must have name as its long name and, where the file
// system numbers its files, h's number. A search mask holds for the first
// query on a handle, so the directory is opened afresh for it.
bool listedAs(const Dir& parent, HANDLE h, const std::wstring& name) {
    static const auto query = reinterpret_cast<NtQueryDirectoryFileCall>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryDirectoryFile")));
    // Wildcards would match other names; no name made here holds one.
    if (!query || name.empty() || name.find_first_of(L"*?<>\"") != std::wstring::npos) return false;
    NTSTATUS status = 0;
    HANDLE list =
        openIn(parent, L"", FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
               FILE_OPEN, FILE_DIRECTORY_FILE, status);
    if (list == INVALID_HANDLE_VALUE) return false;
    std::vector<char> buffer(sizeof(FILE_ID_BOTH_DIR_INFO) + 256 * sizeof(wchar_t));
    UNICODE_STRING mask;
    mask.Buffer = const_cast<PWSTR>(name.c_str());
    mask.Length = mask.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    IO_STATUS_BLOCK io;
    constexpr auto idBothDirectoryInformation = static_cast<ULONG>(37);
    status = query(list, nullptr, nullptr, nullptr, &io, buffer.data(), static_cast<ULONG>(buffer.size()),
                   idBothDirectoryInformation, TRUE, &mask, TRUE);
    CloseHandle(list);
    if (status < 0) {
        noteStatus(status);
        return false;
    }
    const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data());
    const int length = static_cast<int>(entry->FileNameLength / sizeof(wchar_t));
    BY_HANDLE_FILE_INFORMATION info;
    const auto number = static_cast<uint64_t>(entry->FileId.QuadPart);
    return CompareStringOrdinal(entry->FileName, length, name.c_str(), static_cast<int>(name.size()), TRUE) ==
               CSTR_EQUAL &&
           GetFileInformationByHandle(h, &info) &&
           (number == 0 || number == (uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow));
}

// Whether what h holds is found at parent's path under name, up to case.
// A short name opens a file of another name, and anything that led
// elsewhere shows another path; either way the item is not the one stored.
// The final path gives long names throughout. Where the system gives none
// (wine past 260 characters, some network and user-mode file systems), the
// directory's own listing must give name as the long name of what h holds;
// the path as opened would name it as asked, a short name included.
bool foundAs(const Dir& parent, HANDLE h, const std::wstring& name) {
    std::wstring want = parent.path;
    const std::wstring got = want.empty() ? std::wstring() : finalPath(h);
    if (got.empty()) return listedAs(parent, h, name);
    if (want.back() != L'\\') want += L'\\';
    want += name;
    return CompareStringOrdinal(got.c_str(), static_cast<int>(got.size()), want.c_str(),
                                static_cast<int>(want.size()), TRUE) == CSTR_EQUAL;
}

// Removes through its own handle whatever stands at name inside parent,
// unless it is a directory (a link to one goes, not what it leads to; a
// directory that carries another reparse point stays) or is found under
// another name. Without delete sharing nobody can rename it
// between the check and the removal.
bool removeIn(const Dir& parent, const std::wstring& name) {
    NTSTATUS status = 0;
    HANDLE h = openIn(parent, name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN, 0, status);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD attributes = 0;
    bool link = false;
    FILE_DISPOSITION_INFO gone;
    gone.DeleteFile = TRUE;
    const bool removed = lookAt(h, attributes, link) && (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || link) &&
                         foundAs(parent, h, name) &&
                         SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone);
    CloseHandle(h);
    return removed;
}

// Marks the file h holds to go when its handle closes, or takes the mark
// off again.
bool markGone(HANDLE h, bool gone) {
    FILE_DISPOSITION_INFO info;
    info.DeleteFile = gone ? TRUE : FALSE;
    return SetFileInformationByHandle(h, FileDispositionInfo, &info, sizeof info) != 0 || noted(false);
}

// What stands at name inside parent, told from its attributes, when it
// would not open as a directory.
DirOpened kindIn(const Dir& parent, const std::wstring& name) {
    NTSTATUS status = 0;
    HANDLE h =
        openIn(parent, name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, 0, status);
    if (h == INVALID_HANDLE_VALUE) return DirOpened::failed;
    DWORD attributes = 0;
    bool link = false;
    DirOpened step = DirOpened::failed;
    if (lookAt(h, attributes, link)) {
        if (link)
            step = DirOpened::link;
        else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
            step = DirOpened::notDirectory;
    }
    CloseHandle(h);
    return step;
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

constexpr auto tagNotHandled = static_cast<NTSTATUS>(0xC0000279);

// Enters the directory that placed holds at name inside parent, opened at a
// reparse point that is no link (a placeholder of a synced folder, a
// volume mounted there): opened again by name, letting the reparse point
// act, while placed keeps that name from being renamed or removed. What
// opens must be the very directory placed holds or, at a mount point, the
// root of the volume it names; a reparse point changed meanwhile fails.
// Where nothing on the system acts on the tag (a synced folder whose
// client is gone), placed itself is the directory; never at a mount point,
// whose own directory is not the volume.
HANDLE enterThrough(const Dir& parent, const std::wstring& name, HANDLE& placed) {
    FILE_ATTRIBUTE_TAG_INFO tag;
    if (!GetFileInformationByHandleEx(placed, FileAttributeTagInfo, &tag, sizeof tag)) return noted(nullptr);
    NTSTATUS status = 0;
    HANDLE h = openIn(parent, name, FILE_LIST_DIRECTORY | FILE_TRAVERSE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      FILE_OPEN, FILE_DIRECTORY_FILE, status, true);
    if (h == INVALID_HANDLE_VALUE && status == tagNotHandled &&
        tag.ReparseTag != IO_REPARSE_TAG_MOUNT_POINT) {
        h = placed;  // handed over
        placed = INVALID_HANDLE_VALUE;
        return h;
    }
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION a, b;
    bool same = false;
    if (tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT) {
        // \??\Volume{...}\ there; \\?\Volume{...}\ for the root opened.
        const std::u16string target = junctionTarget(placed);
        const std::wstring root = finalPath(h, VOLUME_NAME_GUID);
        same = target.size() > 4 && root.size() == target.size() &&
               CompareStringOrdinal(root.c_str() + 4, static_cast<int>(root.size() - 4),
                                    reinterpret_cast<const wchar_t*>(target.c_str()) + 4,
                                    static_cast<int>(target.size() - 4), TRUE) == CSTR_EQUAL;
    } else {
        same = GetFileInformationByHandle(placed, &a) && GetFileInformationByHandle(h, &b) &&
               idFrom(a) == idFrom(b);
    }
    if (!same) {
        CloseHandle(h);
        lastCode = ERROR_CANT_RESOLVE_FILENAME;
        return nullptr;
    }
    return h;
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
// one) is not the one asked for. attributes: those h has.
DirOpened openedAs(const Dir& parent, HANDLE h, const std::wstring& wide, DWORD& attributes) {
    bool link = false;
    if (!lookAt(h, attributes, link)) return DirOpened::failed;
    if (link) return DirOpened::link;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && foundAs(parent, h, wide)) return DirOpened::opened;
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
    // One that carries a reparse point that is no link is entered through it.
    DWORD attributes = 0;
    const DirOpened step = openedAs(parent, h, wide, attributes);
    if (step == DirOpened::opened && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        HANDLE placed = h;
        h = enterThrough(parent, wide, placed);
        if (placed != INVALID_HANDLE_VALUE) CloseHandle(placed);
        if (!h) return DirOpened::failed;
    }
    if (step != DirOpened::opened) {
        CloseHandle(h);
        return step;
    }
    out = Dir();
    out.handle = reinterpret_cast<intptr_t>(h);
    out.path = finalPath(h);
    return step;
}

// Made with the access and sharing dirOpen asks for, and held: no name is
// looked up again to enter it. A new name cannot be another's short one,
// which would collide, so it needs no check.
Dir dirMake(const Dir& parent, const std::string& name) {
    Dir d;
    std::wstring wide;
    if (!wideName(name, wide)) {
        lastCode = ERROR_NO_UNICODE_TRANSLATION;
        return d;
    }
    NTSTATUS status = 0;
    HANDLE h = openIn(parent, wide, FILE_LIST_DIRECTORY | FILE_TRAVERSE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      FILE_CREATE, FILE_DIRECTORY_FILE, status);
    if (h == INVALID_HANDLE_VALUE) return d;
    d.handle = reinterpret_cast<intptr_t>(h);
    d.path = finalPath(h);
    return d;
}

namespace {

// Makes name inside parent, failing on anything standing there, a link
// included, which is never followed. Without delete sharing nobody else can
// rename or remove it while the run holds it, and it is marked to go when
// its handle closes, however the run ends, until fileKeep keeps it. What
// was made must be a file on a disk under the name asked for; if not, it
// goes again before anything is written.
HANDLE createIn(const Dir& parent, const std::wstring& name, ACCESS_MASK access, NTSTATUS& status) {
    HANDLE h = openIn(parent, name, access | DELETE, 0, FILE_CREATE, FILE_NON_DIRECTORY_FILE, status);
    if (h == INVALID_HANDLE_VALUE) return h;
    const bool fit = GetFileType(h) == FILE_TYPE_DISK && foundAs(parent, h, name);
    if (!markGone(h, true) || !fit) {
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

// Whether a link to a directory stands at name inside parent: no
// directory to keep, but only its own removal takes it away.
bool linkToDirectoryIn(const Dir& parent, const std::wstring& name) {
    NTSTATUS status = 0;
    HANDLE h =
        openIn(parent, name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, 0, status);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD attributes = 0;
    bool link = false;
    const bool found = lookAt(h, attributes, link) && link && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(h);
    return found;
}

// The class is passed as a number: the headers name few of them.
using NtSetInformationFileCall = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);

// How a rename replaces what stands at its new name: where the system can,
// as POSIX does, even a file others hold open (if they share deletion) and
// one marked read-only (only the archive, which c was allowed to write);
// else only a file nobody holds open, as Windows always did; or never,
// failing on whatever stands there.
enum class Replace { posix, posixAndReadOnly, classic, never };

constexpr auto notSupported = static_cast<NTSTATUS>(0xC00000BB);
constexpr auto invalidInfoClass = static_cast<NTSTATUS>(0xC0000003);
constexpr auto invalidParameter = static_cast<NTSTATUS>(0xC000000D);

// Whether a rename failed only for want of the system's POSIX semantics
// (before Windows 10, on FAT, on some servers, under wine).
bool noPosixRename(NTSTATUS status) {
    return status == notImplemented || status == notSupported || status == invalidInfoClass ||
           status == invalidParameter;
}

// Renames the file h holds to name inside parent. NtSetInformationFile
// takes the new name relative to the parent's handle as it is; the file
// API would read it as a path first. Looked up at run time, as
// NtCreateFile is.
NTSTATUS renameTo(HANDLE h, const Dir& parent, const std::wstring& name, Replace how) {
    static const auto call = reinterpret_cast<NtSetInformationFileCall>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSetInformationFile")));
    if (!call) return notImplemented;
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    // The flags of the extended class share their place with the one
    // boolean of the classic one.
    const ULONG replaceIfExists = 0x1, posixSemantics = 0x2, ignoreReadOnly = 0x40;
    ULONG flags = replaceIfExists | posixSemantics | ignoreReadOnly;
    if (how == Replace::classic) flags = TRUE;
    if (how == Replace::never) flags = FALSE;
    if (how == Replace::posix) flags = replaceIfExists | posixSemantics;
    std::memcpy(buffer.data(), &flags, sizeof flags);
    info->RootDirectory = dirHandle(parent);
    info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, name.data(), info->FileNameLength);
    const ULONG renameInformation = 10, renameInformationEx = 65;
    IO_STATUS_BLOCK io;
    return call(h, &io, info, static_cast<ULONG>(buffer.size()),
                how == Replace::classic || how == Replace::never ? renameInformation : renameInformationEx);
}

// The file at name inside parent opened again to be written, where it is
// still the file of identity id and no link: never a path, nor a name that
// leads elsewhere now.
File reopenIn(const Dir& parent, const std::wstring& name, const FileId& id) {
    NTSTATUS status = 0;
    HANDLE h =
        openIn(parent, name, GENERIC_WRITE, FILE_SHARE_DELETE, FILE_OPEN, FILE_NON_DIRECTORY_FILE, status);
    File f = fileFrom(h);
    DWORD attributes = 0;
    bool link = true;
    if (f && !(fileIdOf(f) == id && lookAt(h, attributes, link) && !link)) {
        fileClose(f);
        lastCode = ERROR_CANT_RESOLVE_FILENAME;
    }
    return f;
}

// Whether a file stands at name in parent that is not found there under
// that name (a short name of another file); lastCode says so.
bool takenByAnother(const Dir& parent, const std::wstring& name) {
    NTSTATUS status = 0;
    HANDLE there =
        openIn(parent, name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, 0, status);
    if (there == INVALID_HANDLE_VALUE) return false;
    const bool own = foundAs(parent, there, name);
    CloseHandle(there);
    if (!own) lastCode = ERROR_FILE_EXISTS;
    return !own;
}

// Renames h to name, replacing, as how says; where the system has no POSIX
// rename, how becomes the classic one, for which held is closed first and
// had again if that rename fails too.
bool renameReplacing(HANDLE h, const Dir& parent, const std::wstring& name, File* held, Replace& how) {
    NTSTATUS status = renameTo(h, parent, name, how);
    if (how != Replace::classic && noPosixRename(status)) {
        how = Replace::classic;
        const bool reopen = held && *held;
        const FileId id = reopen ? fileIdOf(*held) : FileId{};
        if (reopen) fileClose(*held);
        status = renameTo(h, parent, name, how);
        if (reopen && status < 0) *held = reopenIn(parent, name, id);
    }
    if (status < 0) noteStatus(status);
    return status >= 0;
}

// Puts the file h holds in place of whatever non-directory stands at name
// inside parent, through h, never by name: a link itself is replaced, and a
// link to a directory there removed through its own handle first. Nor is a
// file replaced that name finds under another of its names (a short one).
// held: the caller's handle on the file at name, closed for a rename that
// cannot replace a file held open, and had again by its identity if even
// that rename fails.
bool replaceWith(HANDLE h, const Dir& parent, const std::wstring& name, File* held) {
    if (takenByAnother(parent, name)) return false;
    Replace how = held ? Replace::posixAndReadOnly : Replace::posix;
    return renameReplacing(h, parent, name, held, how) ||
           (linkToDirectoryIn(parent, name) && removeIn(parent, name) &&
            renameReplacing(h, parent, name, held, how));
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
    if (!wideName(name, wide)) return false;
    NTSTATUS status = 0;
    HANDLE h =
        openIn(parent, wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, 0, status);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD attributes = 0;
    bool link = false;
    const bool directory = lookAt(h, attributes, link) && !link && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(h);
    return directory;
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

namespace {

// Opens file from in parent for renaming it to to, which it puts in
// target as the system spells it.
HANDLE openToRename(const Dir& parent, const std::string& from, const std::string& to, std::wstring& target) {
    std::wstring source;
    if (!wideName(from, source) || !wideName(to, target)) return INVALID_HANDLE_VALUE;
    NTSTATUS status = 0;
    return openIn(parent, source, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                  FILE_NON_DIRECTORY_FILE, status);
}

}  // namespace

// The rename goes through the file's own handle, to a name relative to
// the held parent, replacing what stands there: no path is resolved by
// name, as MoveFileEx with MOVEFILE_REPLACE_EXISTING would.
bool renameIn(const Dir& parent, const std::string& from, const std::string& to) {
    std::wstring target;
    HANDLE h = openToRename(parent, from, to, target);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool renamed = replaceWith(h, parent, target, nullptr);
    CloseHandle(h);
    return renamed;
}

// The file goes through its own handle: unmarked, renamed and closed, or
// marked again where the rename failed.
bool fileKeep(File& f, const Dir& parent, const std::string& made, const std::string& to, File* held) {
    if (!f) return false;
    HANDLE h = handleOf(f);
    std::wstring target;
    bool kept = wideName(to, target) || (lastCode = ERROR_NO_UNICODE_TRANSLATION, false);
    kept = kept && markGone(h, false) && (made == to || replaceWith(h, parent, target, held));
    if (!kept) {
        const DWORD code = lastCode;
        markGone(h, true);
        lastCode = code;
        return false;
    }
    if (held) fileClose(*held);
    return fileClose(f);
}

// Marked at creation, the file goes as its handle closes.
void fileDiscard(File& f, const Dir&, const std::string&) {
    if (!f) return;
    const DWORD code = lastCode;
    markGone(handleOf(f), true);
    fileClose(f);
    lastCode = code;
}

// As fileKeep, through the handle, but never over what stands at to.
bool fileKeepNew(File& f, const Dir& parent, const std::string& made, const std::string& to, bool& taken) {
    taken = false;
    if (!f) return false;
    HANDLE h = handleOf(f);
    std::wstring target;
    if (!wideName(to, target)) {
        lastCode = ERROR_NO_UNICODE_TRANSLATION;
        return false;
    }
    if (!markGone(h, false)) return false;
    const NTSTATUS status = made == to ? 0 : renameTo(h, parent, target, Replace::never);
    if (status < 0) {
        noteStatus(status);
        DWORD attributes = 0;
        taken = attributesIn(parent, target, attributes);
        const DWORD code = taken ? static_cast<DWORD>(ERROR_FILE_EXISTS) : lastCode;
        markGone(h, true);
        lastCode = code;
        return false;
    }
    return fileClose(f);
}

bool removeIn(const Dir& parent, const std::string& name) {
    std::wstring wide;
    return wideName(name, wide) && removeIn(parent, wide);
}

// Without ReplaceIfExists the system refuses a name that is taken, by
// whatever stands there.
bool renameNewIn(const Dir& parent, const std::string& from, const std::string& to, bool& taken) {
    taken = false;
    std::wstring target;
    HANDLE h = openToRename(parent, from, to, target);
    if (h == INVALID_HANDLE_VALUE) return false;
    const NTSTATUS status = renameTo(h, parent, target, Replace::never);
    CloseHandle(h);
    const bool renamed = status >= 0;
    if (!renamed) noteStatus(status);
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

// The path is resolved as the system resolved it to open f, links
// included, as realpath does on Linux: so a link to the archive stays a
// link, and the new archive takes the place of the file it leads to.
Dir dirHolding(const File& f, const std::string&, std::string& name) {
    Dir d;
    // \\?\C:\dir\a.dat, or \\?\UNC\server\share\dir\a.dat.
    const std::wstring full = finalPath(handleOf(f), VOLUME_NAME_DOS);
    const size_t cut = full.rfind(L'\\');
    if (full.empty() || cut == std::wstring::npos || cut + 1 == full.size()) return d;
    std::wstring wide = full.substr(cut + 1), dir = full.substr(0, cut);
    if (!ansiName(wide, name)) return d;
    // A drive's root is opened as "C:\", never "C:", and a share's with its
    // separator too.
    const std::wstring unc = L"\\\\?\\UNC\\";
    if (dir.back() == L':' ||
        (dir.compare(0, unc.size(), unc) == 0 && dir.find(L'\\', unc.size()) == dir.rfind(L'\\')))
        dir += L'\\';
    HANDLE h =
        CreateFileW(dir.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return d;
    d.path = finalPath(h);
    d.handle = reinterpret_cast<intptr_t>(h);
    // The path may have changed since f was opened through it.
    NTSTATUS status = 0;
    HANDLE there = openIn(d, wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                          FILE_NON_DIRECTORY_FILE, status);
    BY_HANDLE_FILE_INFORMATION info;
    DWORD attributes = 0;
    bool link = false;
    const bool same = there != INVALID_HANDLE_VALUE && GetFileInformationByHandle(there, &info) &&
                      idFrom(info) == fileIdOf(f) && lookAt(there, attributes, link) && !link;
    if (there != INVALID_HANDLE_VALUE) CloseHandle(there);
    if (!same) dirClose(d);
    return d;
}

namespace {

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

// Nothing to remove: the file being made goes as its handle closes, marked
// at creation. Waiting out a hold keeps a file being kept, already unmarked,
// from being left under its temporary name. C linkage, as the system calls
// it; static, as a C name in a namespace would still be global.
extern "C" {
static void dieAfterHold(int sig) {
    EnterCriticalSection(&signalLock());
    signal(sig, SIG_DFL);
    raise(sig);
}
}

}  // namespace

// The console ends the process by itself on CTRL_BREAK, a closed window or
// a logoff, and the system ends it on a kill: whichever it is, the file
// being made goes as its handle closes.
void catchSignals() {
    signal(SIGINT, dieAfterHold);
    signal(SIGTERM, dieAfterHold);
}

void removeOnSignal(const Dir*, const std::string&) {}

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

// One item of a listing of dir: named as the program holds names, and
// opened by the name listed, never by another name that stands for it in
// the code page.
DirItem itemFor(const std::wstring& dir, const WIN32_FIND_DATAW& found) {
    const std::wstring name = found.cFileName;
    DirItem item;
    if (!ansiName(name, item.name)) {
        if (item.name.empty()) item.name = "?";
        item.kind = ItemKind::unnamed;
        return item;
    }
    // The tag of a reparse point comes with the listing.
    item.link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                reparseIsLink(found.dwReserved0, std::u16string());
    // The enumeration describes the name itself; what it leads to, and
    // its identity, come from opening it.
    BY_HANDLE_FILE_INFORMATION info;
    if (queryPath(dir + L"\\" + name, info)) {
        item.id = idFrom(info);
        if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            item.kind = ItemKind::directory;
        } else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE)) {
            item.kind = ItemKind::file;
            item.size = sizeFrom(info.nFileSizeHigh, info.nFileSizeLow);
        }
    } else {
        // Listed but not to be opened, even only to ask about it.
        bool dangling = item.link && missingError(GetLastError());
        item.kind = dangling ? ItemKind::dangling : ItemKind::unreadable;
        if (!dangling) item.reason = errorText(GetLastError());
    }
    return item;
}

}  // namespace

bool regularFileAt(const std::string& path, DirItem& item) {
    std::wstring wide;
    BY_HANDLE_FILE_INFORMATION info;
    if (!wideName(path, wide) || !queryPath(wide, info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
        return false;
    item = DirItem{};
    item.name = path;
    item.kind = ItemKind::file;
    item.id = idFrom(info);
    item.size = sizeFrom(info.nFileSizeHigh, info.nFileSizeLow);
    return true;
}

bool listDirectory(const std::string& path, std::vector<DirItem>& items) {
    items.clear();
    // Listed by its characters; a pattern in the path would list other items.
    std::wstring dir;
    if (!wideName(path, dir) || dir.find_first_of(L"*?") != std::wstring::npos) {
        lastCode = ERROR_INVALID_NAME;
        return false;
    }
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return noted(false);
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") items.push_back(itemFor(dir, found));
    } while (FindNextFileW(find, &found));
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
    std::wstring wide;
    if (!wideName(path, wide) || !queryPath(wide, info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
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
// compares names; what comes before it is kept as typed. A match whose name
// has no exact form in the code page comes as shown by ansiName, with "?"
// in it, which no directory is listed by.
std::vector<std::string> patternMatches(const std::string& pattern, NameOrder before) {
    std::vector<std::string> found;
    const size_t cut = pattern.find_last_of("\\/:");
    const std::string head = cut == std::string::npos ? "" : pattern.substr(0, cut + 1);
    std::wstring wide;
    if (!wideName(pattern, wide)) return found;
    WIN32_FIND_DATAW item;
    HANDLE find = FindFirstFileW(wide.c_str(), &item);
    if (find == INVALID_HANDLE_VALUE) return found;
    do {
        const std::wstring name = item.cFileName;
        std::string shown;
        if (name == L"." || name == L"..") continue;
        if (!ansiName(name, shown) && shown.empty()) shown = "?";
        found.push_back(head + shown);
    } while (FindNextFileW(find, &item));
    FindClose(find);
    std::sort(found.begin(), found.end(), before);
    return found;
}

std::string lastError() {
    return errorText(lastCode);
}

bool lastErrorMissing() {
    return lastCode == ERROR_FILE_NOT_FOUND || lastCode == ERROR_PATH_NOT_FOUND;
}

namespace {

HANDLE outputHandle() {
    return GetStdHandle(STD_OUTPUT_HANDLE);
}

}  // namespace

File fileOpenWrite(const std::string& path, bool* missing) {
    std::wstring wide;
    if (!wideName(path, wide)) {
        lastCode = ERROR_NO_UNICODE_TRANSLATION;
        return File();
    }
    // Read sharing lets "u" and "d" read the old archive while they replace it.
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                           missing ? OPEN_EXISTING : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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

// WriteFile goes past the C library's text mode: the bytes as they are.
size_t outputWrite(const void* buf, size_t n) {
    size_t done = 0;
    const auto* p = static_cast<const char*>(buf);
    while (done < n) {
        DWORD put = 0;
        auto want = static_cast<DWORD>(n - done < maxPiece ? n - done : maxPiece);
        if (!WriteFile(outputHandle(), p + done, want, &put, nullptr)) noted(put = 0);
        if (put == 0) break;
        done += put;
    }
    return done;
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
