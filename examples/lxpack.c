/* lxpack: compress (c) or extract (x) one file with libcorvane's streaming
 * API. Build: cc lxpack.c $(pkg-config --cflags --libs corvane) -o lxpack */
#include <corvane.h>
#include <stdio.h>
#include <string.h>

static ptrdiff_t read_file(void *context, void *buffer, size_t size) {
    size_t got = fread(buffer, 1, size, (FILE *)context);
    return got < size && ferror((FILE *)context) ? -1 : (ptrdiff_t)got;
}

static int rewind_file(void *context) { return fseek((FILE *)context, 0, SEEK_SET); }

static int write_file(void *context, const void *buffer, size_t size) {
    return fwrite(buffer, 1, size, (FILE *)context) == size ? 0 : -1;
}

int main(int argc, char **argv) {
    if (argc != 4 || (strcmp(argv[1], "c") != 0 && strcmp(argv[1], "x") != 0)) {
        fprintf(stderr, "usage: lxpack c|x INPUT OUTPUT (libcorvane %s)\n", corvane_version());
        return 2;
    }
    FILE *in = fopen(argv[2], "rb");
    FILE *out = in ? fopen(argv[3], "wb") : NULL;
    if (!out) {
        perror(in ? argv[3] : argv[2]);
        return 1;
    }
    corvane_reader reader = {in, read_file, rewind_file};
    corvane_writer writer = {out, write_file};
    corvane_result result = argv[1][0] == 'c' ? corvane_compress_stream(&reader, &writer)
                                              : corvane_decompress_stream(&reader, &writer);
    fclose(in);
    if (fclose(out) != 0 && result == CORVANE_OK) result = CORVANE_WRITE_ERROR;
    if (result != CORVANE_OK) {
        fprintf(stderr, "lxpack: %s\n", corvane_result_text(result));
        return 1;
    }
    return 0;
}
