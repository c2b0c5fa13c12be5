/* The C face of libdat: open a DAT archive, walk its entries in stored
 * order, find one by path and read any byte range of a file, without
 * extracting anything. This header documents every call.
 *
 * Every call that fails gives a status code (below) and a text: per handle
 * through dat_status and dat_error, and for the calls that answer with a
 * value of their own (dat_entry_at, dat_entries, dat_path, dat_find,
 * dat_read, and dat_open when it has no handle to give) per thread, through
 * dat_last_status and dat_last_error.
 *
 * Every call is safe on a handle that failed to open, and dat_close and
 * dat_error on a null handle too. An open handle keeps no position: any
 * number of threads may call dat_entry, dat_path, dat_find and dat_read on
 * one handle at once, and any number of handles may be open. dat_close is
 * not to race with other calls on the same handle. */
#ifndef DAT_DAT_H
#define DAT_DAT_H

#include <stddef.h>
#include <stdint.h>

#include "dat/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The library's version, as dat_version() gives it at run time. */
#define DAT_VERSION_MAJOR 1
#define DAT_VERSION_MINOR 2
#define DAT_VERSION_PATCH 0

/* Status codes; DAT_OK is 0, every failure another. */
enum {
    DAT_OK = 0,
    DAT_NOT_FOUND,    /* no such file, directory or entry */
    DAT_NOT_A_DAT,    /* the file is no DAT archive */
    DAT_DAMAGED,      /* the archive contradicts itself or was cut short */
    DAT_OUT_OF_RANGE, /* an index, offset or argument outside what is there */
    DAT_REFUSED,      /* a name, path or kind of file that is not taken */
    DAT_SYSTEM_ERROR, /* the system failed a call; the text is its reason */
    DAT_NO_MEMORY,    /* memory ran out */
    DAT_TOO_LARGE     /* the archive would be 4 GiB or more */
};

typedef struct dat_archive dat_archive;

enum { DAT_FILE = 0, DAT_DIRECTORY = 1 };
#define DAT_NONE SIZE_MAX /* no parent; no entry found */

/* One entry. The strings stay valid until dat_close. */
typedef struct dat_entry {
    const char *name;    /* as stored, without its parents' names */
    int kind;            /* DAT_FILE or DAT_DIRECTORY */
    uint32_t size;       /* file: its bytes; directory: bytes of all files below */
    uint64_t offset;     /* file: absolute offset of its first byte in the archive */
    size_t parent;       /* index of the directory holding it, DAT_NONE at the top */
    const char *refusal; /* why "x" would not write it; "" when it does */
    int replaced;        /* 1 when a later file of the same path is written over it */
} dat_entry;

/* Opens the archive at path and checks its whole table of contents.
 * Returns a handle even when opening fails (null only when no memory is
 * left for one); dat_error then says why. */
DAT_API dat_archive *dat_open(const char *path);

/* Why opening failed, with the text dattool prints: the system's text
 * ("No such file or directory"), "not a regular file", "Not a DAT file",
 * "Damaged archive: <what>" or "Archive does not fit in memory";
 * "internal error: <what>" is a fault of the library's own. NULL when the
 * archive is open; "out of memory" for a null handle. */
DAT_API const char *dat_error(const dat_archive *a);

/* The status code that goes with dat_error(a): DAT_OK when the archive is
 * open, DAT_NOT_FOUND, DAT_REFUSED (not a regular file), DAT_NOT_A_DAT,
 * DAT_DAMAGED, DAT_NO_MEMORY or DAT_SYSTEM_ERROR when opening failed;
 * DAT_NO_MEMORY for a null handle. */
DAT_API int dat_status(const dat_archive *a);

/* The status and text of this thread's last failed call of those that
 * answer with a value of their own (see the top). A call that succeeds
 * leaves both as they were, as errno does: look at them only after a call
 * said it failed. DAT_OK and "" before any call failed on this thread. The
 * text stays valid until this thread's next failing call. */
DAT_API int dat_last_status(void);
DAT_API const char *dat_last_error(void);

/* The library's version, "1.2.0": the DAT_VERSION_* of the build. */
DAT_API const char *dat_version(void);

/* The number of entries, in stored (preorder) order; 0 when not open. */
DAT_API size_t dat_count(const dat_archive *a);

/* Fills *out with entry i; 0 on success, -1 when i >= dat_count(a). */
DAT_API int dat_entry_at(const dat_archive *a, size_t i, dat_entry *out);

/* Fills out[0] to out[n-1] with the entries from first on, as dat_entry_at
 * would one by one, stopping at the last entry. Returns how many it filled:
 * 0 when first == dat_count(a); 0 with DAT_OUT_OF_RANGE when first is past
 * it or out is null while n is not 0. */
DAT_API size_t dat_entries(const dat_archive *a, size_t first, dat_entry *out, size_t n);

/* Writes the path of entry i as "l" lists it (written == 0) or as "x" writes
 * it below the current directory (written != 0; "" when refused), with "\"
 * between names and after a directory, into buf of size bytes, zero
 * ended. Returns the path's length without the zero; when that is size or
 * more, buf holds a cut copy (as snprintf). -1 when i is out of range
 * (DAT_OUT_OF_RANGE). */
DAT_API int64_t dat_path(const dat_archive *a, size_t i, int written, char *buf, size_t size);

/* The index of the entry whose stored path is path ("/" and "\" alike, a
 * directory's trailing one optional; the last of repeated paths); DAT_NONE
 * when none (DAT_NOT_FOUND). */
DAT_API size_t dat_find(const dat_archive *a, const char *path);

/* Reads up to n bytes of file entry i, starting offset bytes into the file,
 * into buf, descrambled, with one positioned read of the archive and
 * nothing else. Returns the number read (fewer at the file's end, 0 at or
 * past it); -1 when i is out of range or buf null (DAT_OUT_OF_RANGE), i is
 * a directory (DAT_REFUSED), its bytes lie outside the archive or the
 * archive was cut since it was opened (DAT_DAMAGED), or the system's read
 * failed (DAT_SYSTEM_ERROR). */
DAT_API int64_t dat_read(const dat_archive *a, size_t i, uint64_t offset, void *buf, size_t n);

/* Closes the archive and frees the handle; a null handle is ignored. */
DAT_API void dat_close(dat_archive *a);

/* Extracting: what became of one entry. entry is its index (DAT_NONE for
 * a member that selected nothing); status DAT_OK (written), DAT_REFUSED
 * (refused: "x" would not write it), DAT_SYSTEM_ERROR (failed) or
 * DAT_NOT_FOUND (a member that selected nothing); path where it was written
 * or would have been (the member, for one that selected nothing); why it
 * was not written, "" when it was. The strings last for the call only. */
typedef void (*dat_outcome_fn)(void *ctx, size_t entry, int status, const char *path, const char *why);

/* Extracts below the directory dir (made first, with its parents, when
 * missing) everything when members is NULL, else the entries the count
 * members select as "x" takes them: stored paths ("/" or "\") or patterns
 * ("*", "?", "[...]"), a directory with everything below it. The rules and
 * guarantees are those of "x": nothing is written outside dir, no link is
 * followed, a file that fails leaves whatever stood at its name, a
 * damaged archive never opens. Each outcome goes to fn (if not NULL) with
 * ctx, in stored order; nothing is printed. Returns DAT_OK, or the worst
 * that happened: DAT_SYSTEM_ERROR, else DAT_NOT_FOUND, else DAT_REFUSED;
 * DAT_OUT_OF_RANGE when a is not open. */
DAT_API int dat_extract(const dat_archive *a, const char *dir, const char *const *members, size_t count,
                        dat_outcome_fn fn, void *ctx);

/* Writing: the archive "c" writes from the same directories, byte for
 * byte. Entries are added under a path in the archive, "/" and "\" alike
 * between names, the directories above made as needed; the top level keeps
 * the order of the adds, every directory below it the order "c" gives
 * (names compared with a-z as A-Z, then bytewise). Names "x" would refuse
 * are refused (DAT_REFUSED), as are paths already added (but for a
 * directory added again). An archive of 4 GiB or more is refused
 * (DAT_TOO_LARGE).
 *
 * Nothing is put at the path, and whatever stood there stays as it was,
 * until dat_finish has written the whole archive to a temporary file beside
 * it and moved that into place; after a failure or dat_abort nothing is
 * left of the new archive. Files on disk are read at dat_finish, from the
 * current directory then. Bytes from memory are copied at once: up to
 * 16 MiB in all are held in memory, the rest in a temporary file beside the
 * archive. Every call returns a status (DAT_OK on success) and leaves
 * dat_writer_error saying why it failed. A writer whose archive cannot be
 * made, grew too large or ran out of memory fails every later call with
 * the same status. A writer is not to be shared between threads. The
 * library installs no signal handler: a program that wants the temporary
 * file gone when it is killed removes it itself. */
typedef struct dat_writer dat_writer;

/* Flag of the adds: arcpath is one top-level name, taken as it stands,
 * "/" and "\" kept in it, as "c" stores the directories it is given. */
enum { DAT_VERBATIM = 1 };

/* Opens the place the archive at path is written to. Returns a handle even
 * when that fails (null only when no memory is left for one):
 * dat_writer_status then says why, and every call on it fails. */
DAT_API dat_writer *dat_create(const char *path);

/* Opens a writer over the archive at path as it stands: its entries are
 * kept (their bytes copied from it at dat_finish, a file that moves in the
 * key's 256-byte cycle keyed again), an add replaces an entry of the same
 * path (a file standing where a directory is needed gives way to it) and
 * dat_remove takes entries out. dat_finish writes what "c" writes of the
 * tree that makes, byte for byte, beside the old archive, and puts it in
 * place only when complete. An archive "c" could not have written (entries
 * out of its order, repeated paths, entries "x" refuses) is refused
 * (DAT_REFUSED, the text saying why), as is one that does not open whole
 * (DAT_DAMAGED, DAT_NOT_A_DAT, DAT_NOT_FOUND, ...): nothing is written and
 * every call on the handle fails. Null only when no memory is left. */
DAT_API dat_writer *dat_update(const char *path);

/* Removes the entries member selects, as "x" takes its members: a stored
 * path ("/" or "\") or a pattern ("*", "?", "[...]"), a directory with
 * everything below it. DAT_NOT_FOUND when it selects nothing. */
DAT_API int dat_remove(dat_writer *w, const char *member);

/* An empty directory, or one already added. */
DAT_API int dat_add_directory(dat_writer *w, const char *arcpath, int flags);

/* The regular file at diskpath, its bytes as they are at dat_finish.
 * DAT_NOT_FOUND: nothing at diskpath; DAT_REFUSED: no regular file. */
DAT_API int dat_add_file(dat_writer *w, const char *arcpath, const char *diskpath, int flags);

/* A file of the n bytes at data, copied before the call returns. */
DAT_API int dat_add_bytes(dat_writer *w, const char *arcpath, const void *data, size_t n, int flags);

/* The directory at diskpath and everything below it, as "c" scans it:
 * links followed, the archive itself and items "x" would refuse left out.
 * DAT_REFUSED (the text naming the first) when anything was left out,
 * DAT_SYSTEM_ERROR when a directory could not be listed: what could be
 * added stays added either way. */
DAT_API int dat_add_tree(dat_writer *w, const char *arcpath, const char *diskpath, int flags);

/* Writes the archive and moves it into place; DAT_OK, or the failure with
 * nothing left of the new archive. A source file that cannot be read whole
 * at its turn fails it too. Ends the writer either way: free it after. */
DAT_API int dat_finish(dat_writer *w);

/* Ends the writer, leaving nothing of the new archive. */
DAT_API void dat_abort(dat_writer *w);

/* The status of the writer's last call, and why it failed (NULL when it
 * did not); DAT_NO_MEMORY and "out of memory" for a null handle. */
DAT_API int dat_writer_status(const dat_writer *w);
DAT_API const char *dat_writer_error(const dat_writer *w);

/* Aborts what is not finished and frees the handle; null is ignored. */
DAT_API void dat_writer_free(dat_writer *w);

#ifdef __cplusplus
}
#endif

#endif
