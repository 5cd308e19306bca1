/* A process whose main thread has ended while another runs on: the other
 * thread maps a block with plain POSIX calls (no lock, no descriptor kept),
 * prints "mapped" once the main thread is gone and waits for its input to
 * end.   okr-test-thread-peer NAME
 * With --one-thread, the only thread maps it and prints "mapped"; with
 * --own-table, a thread made without CLONE_FILES opens the block into a
 * descriptor table of its own (no lock, no mapping) and prints "held", and
 * the main thread waits for its input to end; kcmp orders that table after
 * one of the tables before it, so a reader that took "after" for "the same"
 * skips it.
 * With --main-elsewhere, a thread maps the block and the main thread then
 * moves to a mount namespace with no /dev/shm and waits for its input to end. */
#include <fcntl.h>
#include <linux/kcmp.h>
#include <pthread.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

static char path[512];
static pthread_t main_thread;

/* Maps the block and keeps no descriptor of it. */
static void map_block(void)
{
    struct stat info;
    int fd = shm_open(path, O_RDONLY, 0);
    if (fd < 0 || fstat(fd, &info) != 0 ||
        mmap(NULL, (size_t)info.st_size, PROT_READ, MAP_SHARED, fd, 0) == MAP_FAILED) {
        printf("cannot map\n");
        _exit(1);
    }
    close(fd);
}

/* Prints line, if any, then waits for the input to end. */
static void say_and_wait(const char* line)
{
    char byte;
    if (line != NULL) {
        printf("%s\n", line);
        fflush(stdout);
    }
    while (read(STDIN_FILENO, &byte, 1) > 0) {
    }
    _exit(0);
}

static void* map_and_wait(void* unused)
{
    (void)unused;
    map_block();
    pthread_join(main_thread, NULL);
    say_and_wait("mapped");
    return NULL;
}

static pthread_barrier_t mapped;

static void* map_and_stay(void* unused)
{
    (void)unused;
    map_block();
    pthread_barrier_wait(&mapped);
    for (;;) {
        pause();
    }
}

/* Tables order by a key drawn at boot; a try's table that orders before
 * all the tables made so far gives way to the next try. Its thread stays, or
 * the next table would take its place in memory, and so in that order. */
enum { tries = 24 };
static char stacks[tries][64 * 1024] __attribute__((aligned(16)));
static pid_t earlier[tries]; /* the lowest table's thread before each try */

/* Only system calls here: the thread shares the main thread's TLS. It holds
 * the block if its table orders after the table of the thread *lowest. */
static int hold_in_own_table(void* lowest)
{
    if (syscall(SYS_kcmp, *(const pid_t*)lowest, (pid_t)syscall(SYS_gettid), KCMP_FILES, 0, 0) == 1) {
        if (shm_open(path, O_RDONLY, 0) < 0) {
            _exit(1);
        }
        (void)!write(STDOUT_FILENO, "held\n", 5);
    }
    for (;;) {
        pause();
    }
}

int main(int argc, char** argv)
{
    pthread_t worker;
    const char* mode = argc == 3 ? argv[1] : "";
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: okr-test-thread-peer [--one-thread|--own-table|--main-elsewhere] NAME\n");
        return 2;
    }
    snprintf(path, sizeof path, "/%s", argv[argc - 1]);
    if (strcmp(mode, "--one-thread") == 0) {
        map_block();
        say_and_wait("mapped");
    }
    if (strcmp(mode, "--own-table") == 0) {
        const int flags = CLONE_VM | CLONE_FS | CLONE_SIGHAND | CLONE_THREAD | CLONE_SYSVSEM;
        pid_t lowest = getpid();
        for (int try = 0; try < tries; ++try) {
            earlier[try] = lowest;
            const int thread = clone(hold_in_own_table, stacks[try] + sizeof stacks[try], flags, &earlier[try]);
            const long order = thread == -1 ? -1 : syscall(SYS_kcmp, lowest, thread, KCMP_FILES, 0, 0);
            if (order == 1) {
                say_and_wait(NULL);
            }
            if (order != 2) {
                return 1;
            }
            lowest = thread;
        }
        printf("no table after\n");
        return 1;
    }
    if (strcmp(mode, "--main-elsewhere") == 0) {
        if (pthread_barrier_init(&mapped, NULL, 2) != 0 || pthread_create(&worker, NULL, map_and_stay, NULL) != 0) {
            return 1;
        }
        pthread_barrier_wait(&mapped);
        if (unshare(CLONE_NEWNS) != 0 || mount(NULL, "/", NULL, MS_REC | MS_PRIVATE, NULL) != 0 ||
            umount2("/dev/shm", MNT_DETACH) != 0) {
            printf("cannot leave\n");
            _exit(1);
        }
        say_and_wait("elsewhere");
    }
    main_thread = pthread_self();
    if (pthread_create(&worker, NULL, map_and_wait, NULL) != 0) {
        return 1;
    }
    pthread_exit(NULL);
}
