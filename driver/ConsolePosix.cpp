#include "Console.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace okr {
namespace driver {
namespace console {

namespace {

const int heldSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t caught = 0;
sigset_t waitMask; // the mask in force before interrupts were held
sigset_t handled;  // the held interrupts that end the wait (not those ignored)

void noteInterrupt(int signal) { caught = signal; }

// The interrupt that ended the wait, or one that is already pending. ppoll
// returns ready input before it takes a pending signal, and a closed terminal
// makes the input ready as it sends SIGHUP: without this look the input would
// win and the interrupt would be lost. One taken here is kept, since it is
// no longer pending for the next look.
int interruptTaken()
{
    if (caught == 0) {
        const timespec noWait = {0, 0};
        const int pending = sigtimedwait(&handled, nullptr, &noWait);
        caught = pending > 0 ? pending : 0;
    }
    return caught;
}

// A closed terminal reads as gone a moment before its hang-up is signalled:
// the kernel wakes the reader first, and a shell passes the hang-up on to its
// jobs only after it got its own. The run waits a bounded while for it, so it
// ends as a hung-up run does.
int hangUpAfterTerminalGone(ssize_t got, int readError)
{
    if (sigismember(&handled, SIGHUP) != 1) {
        return 0;
    }
    termios settings = {};
    // A hung-up terminal answers EIO to everything; one whose other side has
    // just closed still answers, but its reads fail. End of input typed at a
    // live terminal, or a pipe's, is neither.
    const bool gone = tcgetattr(STDIN_FILENO, &settings) != 0 ? errno == EIO : got < 0 && readError == EIO;
    if (!gone) {
        return 0;
    }
    const timespec grace = {1, 0};
    const int signal = sigtimedwait(&handled, nullptr, &grace);
    return signal > 0 ? signal : 0;
}

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
    sigemptyset(&handled);
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
        sigaddset(&handled, signal);
    }
}

int waitForEnter()
{
    for (;;) {
        pollfd input = {STDIN_FILENO, POLLIN, 0};
        const int ready = ppoll(&input, 1, nullptr, &waitMask);
        const bool interrupted = ready < 0 && errno == EINTR;
        if (const int interrupt = interruptTaken()) {
            return interrupt;
        }
        if (interrupted) {
            continue;
        }
        // A failed ppoll means nothing can be read: as good as end of input.
        if (ready > 0) {
            char byte = 0;
            ssize_t got = 0;
            do {
                got = read(STDIN_FILENO, &byte, 1);
            } while (got < 0 && errno == EINTR);
            const int readError = errno;
            if (got <= 0 && interruptTaken() == 0) {
                return hangUpAfterTerminalGone(got, readError);
            }
        }
        // One that came while the byte was read still wins.
        return interruptTaken();
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
