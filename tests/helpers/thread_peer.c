/* A process whose main thread has ended while another runs on: the other
 * thread maps a block with plain POSIX calls (no lock, no descriptor kept),
 * prints "mapped" once the main thread is gone and waits for its input to
 * end.   okr-test-thread-peer NAME */
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

static char path[512];
static pthread_t main_thread;

static void* map_and_wait(void* unused)
{
    struct stat info;
    char byte;
    int fd = shm_open(path, O_RDONLY, 0);
    (void)unused;
    if (fd < 0 || fstat(fd, &info) != 0 ||
        mmap(NULL, (size_t)info.st_size, PROT_READ, MAP_SHARED, fd, 0) == MAP_FAILED) {
        printf("cannot map\n");
        _exit(1);
    }
    close(fd);
    pthread_join(main_thread, NULL);
    printf("mapped\n");
    fflush(stdout);
    while (read(STDIN_FILENO, &byte, 1) > 0) {
    }
    _exit(0);
}

int main(int argc, char** argv)
{
    pthread_t worker;
    if (argc != 2) {
        fprintf(stderr, "usage: okr-test-thread-peer NAME\n");
        return 2;
    }
    snprintf(path, sizeof path, "/%s", argv[1]);
    main_thread = pthread_self();
    if (pthread_create(&worker, NULL, map_and_wait, NULL) != 0) {
        return 1;
    }
    pthread_exit(NULL);
}
