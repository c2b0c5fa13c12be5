/* Writes an archive through the installed C face (bytes from memory, a
 * file from disk, in the order c would not), then lists what it wrote:
 * built with pkg-config against the installed files. */
#include <dat/dat.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv) {
    if (argc < 3) return fprintf(stderr, "usage: write ARCHIVE FILE\n"), 2;
    dat_writer *w = dat_create(argv[1]);
    const char *text = "0123456789";
    int status = dat_add_bytes(w, "data\\m.msh", text, strlen(text), 0);
    if (status == DAT_OK) status = dat_add_file(w, "data/a.txt", argv[2], 0);
    if (status == DAT_OK) status = dat_finish(w);
    if (status != DAT_OK) fprintf(stderr, "%s (%d)\n", dat_writer_error(w), status);
    dat_writer_free(w);
    if (status != DAT_OK) return 1;
    dat_archive *a = dat_open(argv[1]);
    if (dat_error(a)) return fprintf(stderr, "%s\n", dat_error(a)), 1;
    for (size_t i = 0; i < dat_count(a); ++i) {
        char path[4096];
        dat_path(a, i, 0, path, sizeof path);
        puts(path);
    }
    dat_close(a);
    printf("%s\n", dat_version());
    return 0;
}
