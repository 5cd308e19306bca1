/* A process whose main thread has ended while another runs on: the other
 * thread maps a block with plain POSIX calls (no lock, no descriptor kept),
 * prints "mapped" once the main thread is gone and waits for its input to
 * end.   okr-test-thread-peer NAME
 * With --own-table, a thread made without CLONE_FILES opens the block into
 * a descriptor table of its own (no lock, no mapping) and prints "held";
 * the main thread runs on until its input ends. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <sched.h>
#include <string.h>
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

static char stack[64 * 1024] __attribute__((aligned(16)));

/* Only system calls here: the thread shares the main thread's TLS. */
static int hold_in_own_table(void* unused)
{
    (void)unused;
    if (shm_open(path, O_RDONLY, 0) < 0) {
        _exit(1);
    }
    (void)!write(STDOUT_FILENO, "held\n", 5);
    for (;;) {
        pause();
    }
}

int main(int argc, char** argv)
{
    pthread_t worker;
    char byte;
    if (argc == 3 && strcmp(argv[1], "--own-table") == 0) {
        snprintf(path, sizeof path, "/%s", argv[2]);
        if (clone(hold_in_own_table, stack + sizeof stack,
                  CLONE_VM | CLONE_FS | CLONE_SIGHAND | CLONE_THREAD | CLONE_SYSVSEM, NULL) == -1) {
            return 1;
        }
        while (read(STDIN_FILENO, &byte, 1) > 0) {
        }
        return 0;
    }
    if (argc != 2) {
        fprintf(stderr, "usage: okr-test-thread-peer [--own-table] NAME\n");
        return 2;
    }
    snprintf(path, sizeof path, "/%s", argv[1]);
    main_thread = pthread_self();
    if (pthread_create(&worker, NULL, map_and_wait, NULL) != 0) {
        return 1;
    }
    pthread_exit(NULL);
}
