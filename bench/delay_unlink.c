/* LD_PRELOAD shim for okr-bench-removal-race: every shm_unlink and unlink
   waits OKR_UNLINK_DELAY_US microseconds (200 unless set) before it removes,
   widening the moment between deciding to remove a name and removing it. */
#include <dlfcn.h>
#include <stdlib.h>
#include <time.h>

static void pause_before_removal(void)
{
    const char* text = getenv("OKR_UNLINK_DELAY_US");
    const long us = text != NULL ? strtol(text, NULL, 10) : 200;
    struct timespec delay = {us / 1000000, (us % 1000000) * 1000};
    nanosleep(&delay, NULL);
}

int shm_unlink(const char* name)
{
    static int (*real)(const char*);
    if (real == NULL) {
        real = (int (*)(const char*))dlsym(RTLD_NEXT, "shm_unlink");
    }
    pause_before_removal();
    return real(name);
}

int unlink(const char* path)
{
    static int (*real)(const char*);
    if (real == NULL) {
        real = (int (*)(const char*))dlsym(RTLD_NEXT, "unlink");
    }
    pause_before_removal();
    return real(path);
}
