/* replay CALLS: makes the reads, writes and step backs listed in CALLS on
 * descriptors 0 and 1, the same sizes in the same order, and does nothing to
 * the bytes: the floor under tagsplit's time. CALLS holds 32-bit integers: a
 * read of n bytes is n, a write of n bytes is -n, a step back is 0. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char **argv) {
    static char buffer[4096];
    if (argc != 2) return 2;
    FILE *list = fopen(argv[1], "rb");
    if (list == NULL) return 2;
    fseek(list, 0, SEEK_END);
    long count = ftell(list) / (long)sizeof(int32_t);
    int32_t *calls = malloc((size_t)count * sizeof *calls);
    if (calls == NULL) return 2;
    rewind(list);
    size_t loaded = fread(calls, sizeof *calls, (size_t)count, list);
    if (loaded != (size_t)count) return 2;
    for (long i = 0; i < count; ++i) {
        /* Results not looked at: the same file gives the same counts as it gave tagsplit. */
        ssize_t ignored = 0;
        if (calls[i] > 0) ignored = read(0, buffer, (size_t)calls[i]);
        else if (calls[i] < 0) ignored = write(1, buffer, (size_t)-calls[i]);
        else ignored = lseek(0, -1, SEEK_CUR);
        (void)ignored;
    }
    return 0;
}
