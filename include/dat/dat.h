/* The C face of libdat: open a DAT archive, walk its entries in stored
 * order, find one by path and read any byte range of a file, without
 * extracting anything. This header documents every call.
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

/* The number of entries, in stored (preorder) order; 0 when not open. */
DAT_API size_t dat_count(const dat_archive *a);

/* Fills *out with entry i; 0 on success, -1 when i >= dat_count(a). */
DAT_API int dat_entry_at(const dat_archive *a, size_t i, dat_entry *out);

/* Writes the path of entry i as "l" lists it (written == 0) or as "x" writes
 * it below the current directory (written != 0; "" when refused), with "\"
 * between names and after a directory, into buf of size bytes, zero
 * ended. Returns the path's length without the zero; when that is size or
 * more, buf holds a cut copy (as snprintf). -1 when i is out of range. */
DAT_API int64_t dat_path(const dat_archive *a, size_t i, int written, char *buf, size_t size);

/* The index of the entry whose stored path is path ("/" and "\" alike, a
 * directory's trailing one optional; the last of repeated paths); DAT_NONE when none. */
DAT_API size_t dat_find(const dat_archive *a, const char *path);

/* Reads up to n bytes of file entry i, starting offset bytes into the file,
 * into buf, descrambled, with one positioned read of the archive and
 * nothing else. Returns the number read (fewer at the file's end, 0 at or
 * past it); -1 when i is no file, its bytes lie outside the archive, the
 * archive is not open or the read fell short. */
DAT_API int64_t dat_read(const dat_archive *a, size_t i, uint64_t offset, void *buf, size_t n);

/* Closes the archive and frees the handle; a null handle is ignored. */
DAT_API void dat_close(dat_archive *a);

#ifdef __cplusplus
}
#endif

#endif
