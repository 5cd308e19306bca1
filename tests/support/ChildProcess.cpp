#include "ChildProcess.h"

#include <cerrno>
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
#include <sys/wait.h>
#include <unistd.h>

namespace okr {
namespace testing {

namespace {

constexpr int hungChildMs = 30000;

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

// Blocked and raised before exec: the program starts with it pending, and
// exec keeps both the mask and the pending set.
void holdPending(int signal)
{
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    if (sigprocmask(SIG_BLOCK, &only, nullptr) != 0 || raise(signal) != 0) {
        failInChild("pending signal");
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
    child = fork();
    if (child == 0) {
        if (options.terminalInput) {
            leadSessionOn(input[0]);
        }
        options.noInput ? close(0) : dup2(input[0], 0);
        options.noOutput ? close(1) : dup2(output[1], 1);
        if (options.separateErrors) {
            dup2(errors[1], 2);
        }
        isolate(options);
        if (options.pendingSignal != 0) {
            holdPending(options.pendingSignal);
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
        wait();
    }
    for (int fd : {toChild, childInput, fromChild, errorsFromChild}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

bool ChildProcess::readLine(std::string& line)
{
    for (;;) {
        const std::size_t end = pending.find('\n');
        if (end != std::string::npos) {
            line = pending.substr(0, end);
            pending.erase(0, end + 1);
            return true;
        }
        if (fromChild < 0) {
            return false;
        }
        pollfd ready = {fromChild, POLLIN, 0};
        if (poll(&ready, 1, hungChildMs) <= 0) {
            return false;
        }
        char buffer[4096];
        const ssize_t got = read(fromChild, buffer, sizeof buffer);
        if (got <= 0) {
            return false;
        }
        pending.append(buffer, static_cast<std::size_t>(got));
    }
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
    ssize_t got = 0;
    while (errorsFromChild >= 0 && (got = read(errorsFromChild, buffer, sizeof buffer)) > 0) {
        errors.append(buffer, static_cast<std::size_t>(got));
    }
    return errors;
}

std::size_t ChildProcess::unreadOutputBytes() const
{
    int bytes = 0;
    return ioctl(fromChild, FIONREAD, &bytes) == 0 ? static_cast<std::size_t>(bytes) : 0;
}

void ChildProcess::write(const std::string& text) { (void)!::write(toChild, text.data(), text.size()); }

void ChildProcess::closeInput()
{
    close(toChild);
    toChild = -1;
}

void ChildProcess::closeOutput()
{
    close(fromChild);
    fromChild = -1;
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
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    waited = true;
    if (WIFSIGNALED(status)) {
        return -WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}

} // namespace testing
} // namespace okr
