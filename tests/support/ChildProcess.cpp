#include "ChildProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace okr {
namespace testing {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::seconds hungChild{30};
constexpr int glanceMs = 10;

// /proc as the test process saw it on starting, before a test mounted one of
// its own (PrivateWorld), in which its children have other ids.
const int startingProc = open("/proc", O_DIRECTORY | O_CLOEXEC);

std::string procText(pid_t pid, const char* file)
{
    const int fd = openat(startingProc, (std::to_string(pid) + "/" + file).c_str(), O_RDONLY | O_CLOEXEC);
    char text[4096] = {};
    const ssize_t got = fd >= 0 ? read(fd, text, sizeof text - 1) : -1;
    if (fd >= 0) {
        close(fd);
    }
    return got > 0 ? std::string(text, static_cast<std::size_t>(got)) : std::string();
}

bool readChildMemory(pid_t pid, unsigned long long address, void* into, std::size_t size)
{
    const int fd = openat(startingProc, (std::to_string(pid) + "/mem").c_str(), O_RDONLY | O_CLOEXEC);
    const ssize_t got = fd >= 0 ? pread(fd, into, size, static_cast<off_t>(address)) : -1;
    if (fd >= 0) {
        close(fd);
    }
    return got == static_cast<ssize_t>(size);
}

// True while the child is blocked reading its standard input (read, poll,
// ppoll, select, pselect6 on descriptor 0): it prints nothing more until it
// gets some. A wait this cannot see (no right to look, another call) counts
// as none, and only the hung-child timeout ends it.
bool waitsForInput(pid_t pid)
{
    // "number arg1 ... arg6 sp pc" while blocked in a call, else "running".
    const std::string text = procText(pid, "syscall");
    char* end = nullptr;
    const long call = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str()) {
        return false;
    }
    unsigned long long arg[6] = {};
    for (unsigned long long& value : arg) {
        const char* field = end;
        value = std::strtoull(field, &end, 16);
        if (end == field) {
            return false;
        }
    }
    if (call == SYS_read) {
        return arg[0] == STDIN_FILENO;
    }
#ifdef SYS_poll
    const bool polls = call == SYS_ppoll || call == SYS_poll;
#else
    const bool polls = call == SYS_ppoll;
#endif
    if (polls) {
        pollfd fds[16];
        const std::size_t count = arg[1] < 16 ? static_cast<std::size_t>(arg[1]) : 16;
        if (!readChildMemory(pid, arg[0], fds, count * sizeof(pollfd))) {
            return false;
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (fds[i].fd == STDIN_FILENO && (fds[i].events & POLLIN) != 0) {
                return true;
            }
        }
        return false;
    }
#ifdef SYS_select
    const bool selects = call == SYS_pselect6 || call == SYS_select;
#else
    const bool selects = call == SYS_pselect6;
#endif
    unsigned char firstDescriptors = 0;
    return selects && arg[0] > STDIN_FILENO && arg[1] != 0 && readChildMemory(pid, arg[1], &firstDescriptors, 1) &&
           (firstDescriptors & 1u) != 0;
}

// Ready to read, or at its end.
bool readable(int fd)
{
    pollfd ready = {fd, POLLIN, 0};
    return poll(&ready, 1, 0) > 0;
}

// A signal sent to the process that it has not taken yet.
bool signalPending(pid_t pid)
{
    const std::string status = procText(pid, "status");
    for (const char* field : {"\nSigPnd:\t", "\nShdPnd:\t"}) {
        const std::size_t at = status.find(field);
        if (at == std::string::npos || std::strtoull(status.c_str() + at + std::strlen(field), nullptr, 16) != 0) {
            return true;
        }
    }
    return false;
}

[[noreturn]] void failInChild(const char* what)
{
    const char* reason = std::strerror(errno);
    (void)!::write(2, what, std::strlen(what));
    (void)!::write(2, ": ", 2);
    (void)!::write(2, reason, std::strlen(reason));
    (void)!::write(2, "\n", 1);
    _exit(127);
}

void isolate(const ChildProcess::Options& options)
{
    if (!options.isolateSharedMemory && !options.hideJournal && !options.procOfItsOwn) {
        return;
    }
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        failInChild("private mounts");
    }
    if (options.isolateSharedMemory) {
        const unsigned long flags = options.readOnlySharedMemory ? MS_RDONLY : 0;
        std::string data = std::string("mode=") + options.sharedMemoryMode;
        if (options.sharedMemoryBytes != 0) {
            data += ",size=" + std::to_string(options.sharedMemoryBytes);
        }
        if (mount("tmpfs", "/dev/shm", "tmpfs", flags, data.c_str()) != 0) {
            failInChild("private /dev/shm");
        }
    }
    if (options.hideJournal && mount("tmpfs", "/run/systemd/journal", "tmpfs", 0, nullptr) != 0) {
        failInChild("hide the journal");
    }
    if (options.procOfItsOwn && mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) {
        failInChild("a /proc of its own");
    }
}

// Makes the terminal the controlling terminal of a new session that the
// child leads, so that a hang-up signals the child.
void leadSessionOn(int terminal)
{
    if (setsid() < 0 || ioctl(terminal, TIOCSCTTY, 0) != 0) {
        failInChild("controlling terminal");
    }
}

// Blocked (and raised, when pending) before exec: exec keeps both the mask
// and the pending set.
void holdSignal(int signal, bool pending)
{
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    if (sigprocmask(SIG_BLOCK, &only, nullptr) != 0 || (pending && raise(signal) != 0)) {
        failInChild("held signal");
    }
}

} // namespace

bool ChildProcess::canIsolate()
{
    const pid_t probe = fork();
    if (probe == 0) {
        _exit(unshare(CLONE_NEWNS) == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(probe, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const Options& options)
{
    int input[2];
    int output[2];
    int errors[2] = {-1, -1};
    if (options.terminalInput) {
        // input[1] is the terminal's master side, input[0] its slave.
        if (openpty(&input[1], &input[0], nullptr, nullptr, nullptr) != 0 ||
            fcntl(input[0], F_SETFD, FD_CLOEXEC) != 0 || fcntl(input[1], F_SETFD, FD_CLOEXEC) != 0) {
            std::abort();
        }
    } else if (pipe2(input, O_CLOEXEC) != 0) {
        std::abort();
    }
    if (pipe2(output, O_CLOEXEC) != 0 || (options.separateErrors && pipe2(errors, O_CLOEXEC) != 0)) {
        std::abort();
    }
    if (options.outputPipeBytes > 0 && fcntl(output[1], F_SETPIPE_SZ, options.outputPipeBytes) < 0) {
        std::abort();
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    if (options.brokenOutput) {
        // Closed before the fork: the program's first write meets a pipe
        // without reader, however fast it starts.
        close(output[0]);
        output[0] = -1;
    }
    child = fork();
    if (child == 0) {
        if (options.terminalOfNoSession) {
            setsid();
        } else if (options.terminalInput) {
            leadSessionOn(input[0]);
        }
        options.noInput ? close(0) : dup2(input[0], 0);
        options.noOutput ? close(1) : dup2(output[1], 1);
        if (options.separateErrors) {
            dup2(errors[1], 2);
        }
        isolate(options);
        if (options.pendingSignal != 0) {
            holdSignal(options.pendingSignal, true);
        }
        if (options.blockedSignal != 0) {
            holdSignal(options.blockedSignal, false);
        }
        if (options.ignoreHangUp) {
            signal(SIGHUP, SIG_IGN);
        }
        if (options.runAsUser >= 0) {
            if (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(options.runAsUser)) != 0 ||
                setuid(static_cast<uid_t>(options.runAsUser)) != 0) {
                failInChild("drop privileges");
            }
        }
        execv(program.c_str(), argv.data());
        failInChild("exec");
    }
    toChild = input[1];
    fromChild = output[0];
    close(output[1]);
    if (options.terminalInput) {
        close(input[0]); // the child's end
    } else {
        childInput = input[0];
    }
    if (options.separateErrors) {
        errorsFromChild = errors[0];
        close(errors[1]);
    }
}

ChildProcess::~ChildProcess()
{
    if (!waited && child > 0) {
        kill(child, SIGKILL);
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    for (int fd : {toChild, childInput, fromChild, errorsFromChild}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

bool ChildProcess::stuckOnInput() const
{
    // A wake-up under way may not show in the child's state yet, but its
    // cause does until the child has run: input in the pipe, its end, or a
    // signal. So the causes are looked at first, the state after. Input the
    // test closed ends every read, a terminal's too (hung up, with nothing
    // left here to look at).
    return toChild >= 0 && !(childInput >= 0 && readable(childInput)) && !signalPending(child) && waitsForInput(child);
}

bool ChildProcess::readLine(std::string& line)
{
    why.clear();
    Clock::time_point quietSince = Clock::now();
    for (;;) {
        const std::size_t end = pending.find('\n');
        if (end != std::string::npos) {
            line = pending.substr(0, end);
            pending.erase(0, end + 1);
            return true;
        }
        if (fromChild < 0) {
            why = "its output is closed";
            return false;
        }
        pollfd ready = {fromChild, POLLIN, 0};
        const int events = poll(&ready, 1, glanceMs);
        if (events > 0) {
            char buffer[4096];
            const ssize_t got = read(fromChild, buffer, sizeof buffer);
            if (got <= 0) {
                why = "its output ended";
                return false;
            }
            pending.append(buffer, static_cast<std::size_t>(got));
            quietSince = Clock::now();
            continue;
        }
        // What it wrote before it began to wait is in the pipe by now.
        if (stuckOnInput() && !readable(fromChild)) {
            why = "it waits for input";
            return false;
        }
        if (Clock::now() - quietSince > hungChild) {
            why = "it printed nothing for " + std::to_string(hungChild.count()) + " s";
            return false;
        }
    }
}

::testing::AssertionResult ChildProcess::readUpTo(const std::string& wanted, std::vector<std::string>& lines)
{
    std::string line;
    while (readLine(line)) {
        lines.push_back(line);
        if (line == wanted) {
            return ::testing::AssertionSuccess();
        }
    }
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    failure << "no line \"" << wanted << "\": " << why << "; it printed:\n";
    for (const std::string& printed : lines) {
        failure << "  | " << printed << "\n";
    }
    if (!pending.empty()) {
        failure << "  | " << pending << " (no newline)\n";
    }
    return failure;
}

std::string ChildProcess::readRest()
{
    std::string rest;
    std::string line;
    while (readLine(line)) {
        rest += line + "\n";
    }
    rest += pending;
    pending.clear();
    return rest;
}

std::string ChildProcess::readErrors()
{
    std::string errors;
    char buffer[4096];
    pollfd ready = {errorsFromChild, POLLIN, 0};
    const auto hungMs = static_cast<int>(std::chrono::milliseconds(hungChild).count());
    while (errorsFromChild >= 0 && poll(&ready, 1, hungMs) > 0) {
        const ssize_t got = read(errorsFromChild, buffer, sizeof buffer);
        if (got <= 0) {
            return errors;
        }
        errors.append(buffer, static_cast<std::size_t>(got));
    }
    if (errorsFromChild >= 0) {
        ADD_FAILURE() << "standard error of pid " << child << " stayed open and silent for " << hungChild.count()
                      << " s";
    }
    return errors;
}

std::size_t ChildProcess::unreadOutputBytes() const
{
    int bytes = 0;
    return ioctl(fromChild, FIONREAD, &bytes) == 0 ? static_cast<std::size_t>(bytes) : 0;
}

bool ChildProcess::ended() const
{
    siginfo_t info = {};
    return waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == child;
}

void ChildProcess::write(const std::string& text) { (void)!::write(toChild, text.data(), text.size()); }

void ChildProcess::closeInput()
{
    close(toChild);
    toChild = -1;
}

std::string ChildProcess::unreadInput()
{
    std::string rest;
    fcntl(childInput, F_SETFL, O_NONBLOCK);
    char buffer[256];
    ssize_t got = 0;
    while ((got = read(childInput, buffer, sizeof buffer)) > 0) {
        rest.append(buffer, static_cast<std::size_t>(got));
    }
    return rest;
}

int ChildProcess::wait()
{
    int status = 0;
    const Clock::time_point start = Clock::now();
    for (;;) {
        const pid_t ended = waitpid(child, &status, WNOHANG);
        if (ended == child || (ended < 0 && errno != EINTR)) {
            break;
        }
        if (ended < 0) {
            continue;
        }
        // The test waits here and writes nothing meanwhile: input the child
        // waits for will never come.
        const bool stuck = stuckOnInput();
        if (stuck || Clock::now() - start > hungChild) {
            ADD_FAILURE() << "pid " << child << (stuck ? " waits for input the test does not give" : " hangs")
                          << "; killed";
            kill(child, SIGKILL);
            while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        usleep(glanceMs * 1000);
    }
    waited = true;
    if (WIFSIGNALED(status)) {
        return -WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}

} // namespace testing
} // namespace okr
