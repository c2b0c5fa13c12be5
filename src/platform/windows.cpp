// Windows backend of the platform layer, made of KERNEL32's file API alone.
// Paths are already in this system's form: "\\" between names.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstring>

#include "platform/platform.h"

// Asks the MinGW start-up code to expand wildcard arguments before main runs,
// the way a console program on this system is expected to behave.
extern "C" {
int _dowildcard = -1;  // NOLINT(bugprone-reserved-identifier): the runtime's name
}

namespace {

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

bool missingError(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

File fileOpenRead(const std::string& path) {
    return fileFrom(
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
}

size_t fileRead(File& f, void* buf, size_t n) {
    size_t done = 0;
    auto* p = static_cast<char*>(buf);
    while (done < n) {
        DWORD got = 0;
        auto want = static_cast<DWORD>(n - done < maxPiece ? n - done : maxPiece);
        if (!ReadFile(handleOf(f), p + done, want, &got, nullptr) || got == 0) break;
        done += got;
    }
    f.pos += done;
    return done;
}

size_t fileWrite(File& f, const void* buf, size_t n) {
    size_t done = 0;
    const auto* p = static_cast<const char*>(buf);
    while (done < n) {
        DWORD put = 0;
        auto want = static_cast<DWORD>(n - done < maxPiece ? n - done : maxPiece);
        if (!WriteFile(handleOf(f), p + done, want, &put, nullptr) || put == 0) break;
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
    if (!SetFilePointerEx(handleOf(f), to, nullptr, FILE_BEGIN)) return false;
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

bool fileClose(File& f) {
    if (f.handle == -1) return true;
    bool ok = CloseHandle(handleOf(f)) != 0;
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

std::string childPath(const Dir& parent, const std::string& name) {
    return parent.path == "." ? name : parent.path + "\\" + name;
}

HANDLE dirHandle(const Dir& d) {
    return reinterpret_cast<HANDLE>(d.handle);  // NOLINT(performance-no-int-to-ptr)
}

// A directory is held with read access and without delete sharing: while
// the handle lives nobody can open it for deletion, which renaming and
// removing need, so the name keeps leading to this directory. The reparse
// flag makes a link be opened itself, never followed.
HANDLE holdDirectory(const std::string& path, DWORD flags) {
    return CreateFileA(path.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

bool upper(char c, char want) {
    return c == want || c == want - 'A' + 'a';
}

bool sameName(const std::string& a, const char* b) {
    size_t i = 0;
    for (; b[i] != '\0'; ++i)
        if (i >= a.size() || !(b[i] == '$' ? a[i] == '$' : upper(a[i], b[i]))) return false;
    return i == a.size();
}

// A digit as device names take it: 0-9 and the superscripts 1, 2, 3, as
// one byte of the ANSI code page or as UTF-8.
bool deviceDigit(const std::string& s) {
    if (s.size() == 1) return (s[0] >= '0' && s[0] <= '9') || s == "\xB9" || s == "\xB2" || s == "\xB3";
    return s == "\xC2\xB9" || s == "\xC2\xB2" || s == "\xC2\xB3";
}

}  // namespace

Dir dirAt(const std::string& path) {
    Dir d;
    HANDLE h = holdDirectory(path, 0);
    if (h == INVALID_HANDLE_VALUE) return d;
    d.handle = reinterpret_cast<intptr_t>(h);
    d.path = path;
    return d;
}

void dirClose(Dir& d) {
    if (d.handle != -1) CloseHandle(dirHandle(d));
    d.handle = -1;
}

Step dirOpen(const Dir& parent, const std::string& name, Dir& out) {
    const std::string path = childPath(parent, name);
    HANDLE h = holdDirectory(path, FILE_FLAG_OPEN_REPARSE_POINT);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (missingError(error)) return Step::missing;
        if (error == ERROR_TOO_MANY_OPEN_FILES) return Step::exhausted;
        // A file opened as a directory is refused in several ways; its
        // attributes tell.
        const DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return Step::link;
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return Step::notDirectory;
        return Step::failed;
    }
    BY_HANDLE_FILE_INFORMATION info;
    Step step = Step::opened;
    if (!GetFileInformationByHandle(h, &info))
        step = Step::failed;
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        step = Step::link;
    else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        step = Step::notDirectory;
    if (step != Step::opened) {
        CloseHandle(h);
        return step;
    }
    out = Dir();
    out.handle = reinterpret_cast<intptr_t>(h);
    out.path = path;
    return step;
}

bool dirMake(const Dir& parent, const std::string& name) {
    return CreateDirectoryA(childPath(parent, name).c_str(), nullptr) != 0;
}

File fileReplaceIn(const Dir& parent, const std::string& name) {
    // The parent is held, so it is still the directory reached; it must
    // not be a link itself.
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(dirHandle(parent), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return File();
    const std::string path = childPath(parent, name);
    // CREATE_NEW fails on anything standing at path; with the reparse flag a
    // link counts as standing there and is never followed. What stands there
    // is removed and the create tried once more.
    auto create = [&] {
        return CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    };
    HANDLE h = create();
    if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return fileFrom(h);
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return File();
    bool removed = false;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        removed = DeleteFileA(path.c_str()) != 0;
    else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        removed = RemoveDirectoryA(path.c_str()) != 0;  // the link to a directory, not the directory
    return removed ? fileFrom(create()) : File();
}

bool nameAllowed(const std::string& name) {
    if (name == "." || name == "..") return true;
    // A colon names a stream of a file; a trailing dot or space is dropped
    // by the system, so the name would not be the one stored.
    if (name.find(':') != std::string::npos) return false;
    if (!name.empty() && (name.back() == '.' || name.back() == ' ')) return false;
    // Device names are reserved whatever follows the first dot.
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* d : devices)
        if (sameName(base, d)) return false;
    if (base.size() >= 4 && (sameName(base.substr(0, 3), "COM") || sameName(base.substr(0, 3), "LPT")))
        return !deviceDigit(base.substr(3));
    return true;
}

// Handles are not counted against a limit here.
void raiseHandleLimit() {}

bool removeFile(const std::string& path) {
    return DeleteFileA(path.c_str()) != 0;
}

bool listDirectory(const std::string& path, std::vector<DirItem>& items) {
    items.clear();
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return false;
    do {
        if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0) continue;
        DirItem item;
        item.name = found.cFileName;
        item.link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        // The enumeration describes the name itself; what it leads to, and
        // its identity, come from opening it.
        BY_HANDLE_FILE_INFORMATION info;
        if (queryPath(path + "\\" + item.name, info)) {
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
        }
        items.push_back(std::move(item));
    } while (FindNextFileA(find, &found));
    // ERROR_NO_MORE_FILES is the normal end. Any other error ends the
    // enumeration too, so no item repeats, but leaves it incomplete, which
    // is reported rather than passed off as the whole directory.
    bool whole = GetLastError() == ERROR_NO_MORE_FILES;
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

std::vector<std::string> expandArguments(int argc, char** argv) {
    // The runtime expanded wildcards before main (see _dowildcard above).
    return std::vector<std::string>(argv, argv + argc);
}

namespace {

HANDLE outputHandle() {
    return GetStdHandle(STD_OUTPUT_HANDLE);
}

}  // namespace

File fileOpenWrite(const std::string& path) {
    return fileFrom(
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool fileTruncate(File& f) {
    if (!fileIsRegular(f)) return true;
    return fileSeek(f, 0) && SetEndOfFile(handleOf(f)) != 0;
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

bool outputFileId(FileId& id) {
    HANDLE h = outputHandle();
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    id = idFrom(info);
    return true;
}
