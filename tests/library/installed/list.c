/* Lists an archive through the installed C face and prints the first bytes
 * of one member: built with pkg-config against the installed files. */
#include <dat/dat.h>
#include <stdio.h>

int main(int argc, char **argv) {
    dat_archive *a = dat_open(argc > 1 ? argv[1] : "");
    if (dat_error(a)) return fprintf(stderr, "%s\n", dat_error(a)), 1;
    for (size_t i = 0; i < dat_count(a); ++i) {
        char path[4096];
        dat_path(a, i, 0, path, sizeof path);
        puts(path);
    }
    char bytes[64];
    int64_t n = dat_read(a, dat_find(a, argc > 2 ? argv[2] : ""), 0, bytes, sizeof bytes);
    if (n >= 0) printf("%.*s\n", (int)n, bytes);
    dat_close(a);
    return n >= 0 ? 0 : 1;
}
