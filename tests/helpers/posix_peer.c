/* A process outside the library: opens a block with plain POSIX calls and
 * prints its size and whether every byte is zero: "<size> zero|nonzero". */
#include <fcntl.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    char path[512];
    struct stat info;
    const unsigned char* bytes;
    int fd;
    int zero = 1;
    off_t i;

    if (argc != 2) {
        fprintf(stderr, "usage: okr-test-posix-peer NAME\n");
        return 2;
    }
    snprintf(path, sizeof path, "/%s", argv[1]);
    fd = shm_open(path, O_RDONLY, 0);
    if (fd < 0 || fstat(fd, &info) != 0) {
        printf("cannot open\n");
        return 1;
    }
    bytes = info.st_size > 0 ? mmap(NULL, (size_t)info.st_size, PROT_READ, MAP_SHARED, fd, 0) : NULL;
    if (info.st_size > 0 && bytes == MAP_FAILED) {
        printf("cannot map\n");
        return 1;
    }
    for (i = 0; i < info.st_size; ++i) {
        zero &= bytes[i] == 0;
    }
    printf("%lld %s\n", (long long)info.st_size, zero ? "zero" : "nonzero");
    return 0;
}
