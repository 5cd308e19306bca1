#include "Console.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <poll.h>
#include <unistd.h>

namespace okr {
namespace driver {
namespace console {

namespace {

const int heldSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t caught = 0;
sigset_t waitMask; // the mask in force before interrupts were held

void noteInterrupt(int signal) { caught = signal; }

} // namespace

void keepRunningOnBrokenOutput() { std::signal(SIGPIPE, SIG_IGN); }

void holdInterrupts()
{
    // Interrupts stay blocked except inside the wait's ppoll, so one that
    // arrives while the run is busy is taken there, and none is lost between
    // a check and the start of the wait.
    sigset_t held;
    sigemptyset(&held);
    for (int signal : heldSignals) {
        sigaddset(&held, signal);
    }
    sigprocmask(SIG_BLOCK, &held, &waitMask);
    for (int signal : heldSignals) {
        sigdelset(&waitMask, signal);
        // A signal the caller chose to ignore (nohup, a background job) stays
        // ignored.
        struct sigaction inherited = {};
        sigaction(signal, nullptr, &inherited);
        if (inherited.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action = {};
        action.sa_handler = noteInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

int waitForEnter()
{
    for (;;) {
        pollfd input = {STDIN_FILENO, POLLIN, 0};
        const int ready = ppoll(&input, 1, nullptr, &waitMask);
        if (caught != 0) {
            return caught;
        }
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return 0; // nothing can be read: as good as end of input
        }
        char byte = 0;
        ssize_t got = 0;
        do {
            got = read(STDIN_FILENO, &byte, 1);
        } while (got < 0 && errno == EINTR);
        return 0;
    }
}

void endByInterrupt(int interrupt)
{
    std::signal(interrupt, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, interrupt);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(interrupt);
    std::_Exit(128 + interrupt);
}

} // namespace console
} // namespace driver
} // namespace okr
