/*
 * The least work the operating system must do for one complete run of the
 * console check on Linux: the same lines, both blocks created, sized, mapped
 * and listed, one byte of input, both blocks removed. No journal, no C++
 * runtime, no wxWidgets, no Boost: only libc. The whole-run benchmark
 * compares the check's wall time against this program's.
 *
 * Its block names differ from the check's ("okr-floor-...") so that it can
 * run beside the check and its tests without touching their blocks.
 */

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#define INFO_SIZE 135880u
#define SYNC_SIZE 16u
#define SHM_FOLDER "/dev/shm"

/* What the check's library does for a creating side: open or create, open to
 * every user (fchmod, since the umask would narrow the mode), size, reserve
 * the memory, map. */
static void* create_block(const char* name, size_t size)
{
    int fd = shm_open(name, O_CREAT | O_RDWR, 0666);
    if (fd < 0) {
        return NULL;
    }
    void* view = MAP_FAILED;
    if (fchmod(fd, 0666) == 0 && ftruncate(fd, (off_t)size) == 0 && posix_fallocate(fd, 0, (off_t)size) == 0) {
        view = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    /* The mapping keeps the block; the descriptor is no longer needed. */
    close(fd);
    return view == MAP_FAILED ? NULL : view;
}

static void list_files(const char* folder, const char* pattern)
{
    DIR* dir = opendir(folder);
    if (dir == NULL) {
        return;
    }
    struct dirent* entry;
    while ((entry = readdir(dir)) != NULL) {
        if (fnmatch(pattern, entry->d_name, FNM_PERIOD) != 0) {
            continue;
        }
        int regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN) {
            /* Some file systems do not fill d_type; ask only then. */
            struct stat st;
            regular = fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
        }
        if (regular) {
            puts(entry->d_name);
        }
    }
    closedir(dir);
}

int main(void)
{
    char info_name[64];
    const char* sync_name = "okr-floor-sync";
    snprintf(info_name, sizeof info_name, "okr-floor-info-%ld", (long)getpid());

    puts("Simulate a boot time event");

    printf("Creating info file %s\n", info_name);
    void* info = create_block(info_name, INFO_SIZE);
    if (info == NULL) {
        puts("Error: Cannot open shared memory");
        return 1;
    }
    printf("Creating sync file %s\n", sync_name);
    void* sync = create_block(sync_name, SYNC_SIZE);
    if (sync == NULL) {
        puts("Error: Cannot open shared memory");
        return 1;
    }
    /* The sync record starts out zero on every creation, as the check's does. */
    memset(sync, 0, SYNC_SIZE);

    printf("Shared memory folder is: %s\n", SHM_FOLDER);
    puts("List shared memory files");
    list_files(SHM_FOLDER, "okr-*");
    puts("Press ENTER to finish test");
    /* One write for all lines: the prompt must be out before the wait. */
    fflush(stdout);

    char byte;
    ssize_t got;
    do {
        got = read(STDIN_FILENO, &byte, 1);
    } while (got < 0 && errno == EINTR);

    munmap(info, INFO_SIZE);
    munmap(sync, SYNC_SIZE);
    shm_unlink(info_name);
    shm_unlink(sync_name);
    return 0;
}
