/*
 * The least work the operating system must do for one `okr-shm list` on
 * Linux: one pass over the folder's entries, one fstatat per object (its
 * facts kept, as a listing that sorts must keep them before it prints), one
 * pass over every process's status, descriptors (one stat each) and
 * mappings, and one line per object. No sorting, no quoting, no account
 * names: only libc. bench/list_scaling.sh compares okr-shm list against it.
 *
 *   okr-bench-list-floor [FOLDER]        (default /dev/shm)
 */

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

struct use {
    unsigned long long inode;
    long pid;
};

static struct use* uses;
static size_t use_count, use_room;

static void add_use(unsigned long long inode, long pid)
{
    if (use_count == use_room) {
        use_room = use_room ? 2 * use_room : 1024;
        uses = realloc(uses, use_room * sizeof *uses);
        if (uses == NULL) {
            exit(1);
        }
    }
    uses[use_count].inode = inode;
    uses[use_count].pid = pid;
    ++use_count;
}

static int by_inode(const void* a, const void* b)
{
    const struct use* x = a;
    const struct use* y = b;
    return x->inode < y->inode ? -1 : x->inode > y->inode;
}

static char buffer[1 << 20];

/* Reads name below dir into buffer; the length, or -1. */
static ssize_t read_file(int dir, const char* name)
{
    int fd = openat(dir, name, O_RDONLY | O_CLOEXEC);
    ssize_t used = 0;
    ssize_t got;
    if (fd < 0) {
        return -1;
    }
    while ((got = read(fd, buffer + used, sizeof buffer - 1 - (size_t)used)) > 0) {
        used += got;
    }
    close(fd);
    buffer[used] = '\0';
    return used;
}

static void read_process(int proc, const char* name, dev_t device, const char* device_field)
{
    int process = openat(proc, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    long pid = strtol(name, NULL, 10);
    if (process < 0) {
        return;
    }
    if (read_file(process, "status") > 0 && strstr(buffer, "\nState:\tZ") == NULL) {
        int fds = openat(process, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* listing = fds >= 0 ? fdopendir(fds) : NULL;
        struct dirent* entry;
        while (listing != NULL && (entry = readdir(listing)) != NULL) {
            struct stat target;
            if (entry->d_name[0] != '.' && fstatat(fds, entry->d_name, &target, 0) == 0 && target.st_dev == device) {
                add_use(target.st_ino, pid);
            }
        }
        if (listing != NULL) {
            closedir(listing);
        }
        if (read_file(process, "maps") > 0) {
            for (char* line = buffer; *line != '\0';) {
                char* field = line;
                for (int skip = 0; skip < 3 && field != NULL; ++skip) {
                    field = strchr(field + 1, ' ');
                }
                if (field != NULL && strncmp(field, device_field, strlen(device_field)) == 0) {
                    add_use(strtoull(field + strlen(device_field), NULL, 10), pid);
                }
                char* next = strchr(line, '\n');
                line = next != NULL ? next + 1 : line + strlen(line);
            }
        }
    }
    close(process);
}

int main(int argc, char** argv)
{
    const char* path = argc > 1 ? argv[1] : "/dev/shm";
    DIR* folder = opendir(path);
    struct stat facts;
    if (folder == NULL || fstat(dirfd(folder), &facts) != 0) {
        perror(path);
        return 1;
    }
    const dev_t device = facts.st_dev;
    char device_field[32];
    snprintf(device_field, sizeof device_field, " %02x:%02x ", major(device), minor(device));

    int proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* processes = fdopendir(dup(proc));
    struct dirent* entry;
    while (processes != NULL && (entry = readdir(processes)) != NULL) {
        if (entry->d_name[0] >= '1' && entry->d_name[0] <= '9') {
            read_process(proc, entry->d_name, device, device_field);
        }
    }
    qsort(uses, use_count, sizeof *uses, by_inode);

    /* Every object's name and facts, kept. */
    char* names = NULL;
    size_t names_used = 0, names_room = 0;
    struct object {
        size_t name;
        struct stat facts;
    }* objects = NULL;
    size_t count = 0, room = 0;
    while ((entry = readdir(folder)) != NULL) {
        if (strncmp(entry->d_name, "okr-", 4) != 0 ||
            fstatat(dirfd(folder), entry->d_name, &facts, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(facts.st_mode)) {
            continue;
        }
        const size_t length = strlen(entry->d_name) + 1;
        if (names_used + length > names_room || count == room) {
            names_room = 2 * names_room + length + 4096;
            room = room ? 2 * room : 1024;
            char* more_names = realloc(names, names_room);
            struct object* more_objects = realloc(objects, room * sizeof *objects);
            if (more_names == NULL || more_objects == NULL) {
                free(more_names != NULL ? more_names : names);
                free(more_objects != NULL ? more_objects : objects);
                return 1;
            }
            names = more_names;
            objects = more_objects;
        }
        memcpy(names + names_used, entry->d_name, length);
        objects[count].name = names_used;
        objects[count].facts = facts;
        names_used += length;
        ++count;
    }

    static char out[1 << 16];
    setvbuf(stdout, out, _IOFBF, sizeof out);
    for (size_t i = 0; i < count; ++i) {
        struct use key = {objects[i].facts.st_ino, 0};
        const struct use* found = bsearch(&key, uses, use_count, sizeof *uses, by_inode);
        printf("%s %lld %u %lld %ld\n", names + objects[i].name, (long long)objects[i].facts.st_size,
               objects[i].facts.st_uid, (long long)objects[i].facts.st_mtime, found != NULL ? found->pid : 0L);
    }
    free(names);
    free(objects);
    return 0;
}
