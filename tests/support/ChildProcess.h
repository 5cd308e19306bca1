#ifndef OKR_TESTS_CHILDPROCESS_H
#define OKR_TESTS_CHILDPROCESS_H

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

namespace okr {
namespace testing {

// A program started with pipes on its standard input and output (or a
// terminal on its input), so a test can talk to it like an operator at a
// console.
class ChildProcess {
public:
    struct Options {
        bool isolateSharedMemory = false;      // a private, empty /dev/shm
        bool readOnlySharedMemory = false;     // ... that cannot be written
        bool hideJournal = false;              // no journal socket in sight
        const char* sharedMemoryMode = "1777"; // ... with this mode
        std::size_t sharedMemoryBytes = 0;     // ... holding at most this much (0: tmpfs's default)
        int runAsUser = -1;                    // drop to this uid (root only)
        bool noInput = false;                  // standard input closed, not a pipe
        bool noOutput = false;                 // standard output closed, not a pipe
        bool brokenOutput = false;             // standard output a pipe nobody reads, from the start
        bool ignoreHangUp = false;             // SIGHUP ignored, as nohup does
        bool terminalInput = false;            // standard input a terminal whose session the child
                                               // leads; closeInput() hangs it up
        bool terminalOfNoSession = false;      // ... led by no session, as a shell's job sees it:
                                               // closing it signals nothing
        int pendingSignal = 0;                 // already sent and held when the program starts, as
                                               // if it came while the program was busy
        int blockedSignal = 0;                 // blocked, not sent, when the program starts, as a
                                               // parent may leave its mask
        bool separateErrors = false;           // standard error on a pipe of its own
        int outputPipeBytes = 0;               // standard output's pipe holds this much (0: the default)
        bool procOfItsOwn = false;             // a /proc of its own pid namespace over the test's
                                               // (LeakSanitizer reads its own threads there)
    };

    // True when this machine lets tests use private mounts (root).
    static bool canIsolate();

    ChildProcess(const std::string& program, const std::vector<std::string>& arguments, const Options& options);
    ChildProcess(const std::string& program, const Options& options) : ChildProcess(program, {}, options) {}
    explicit ChildProcess(const std::string& program) : ChildProcess(program, {}, Options()) {}
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return child; }

    // The next line of output without its newline; false when the output
    // ends, when the child sits waiting for input that nobody has written (it
    // prints nothing more until it gets some), or when nothing arrives for a
    // long while (a hung child).
    bool readLine(std::string& line);
    // Lines up to and including the first that is exactly wanted, added to
    // lines; a failure quoting all the child printed when it stops first.
    ::testing::AssertionResult readUpTo(const std::string& wanted, std::vector<std::string>& lines);
    // Everything the child still writes until it closes its output (or sits
    // waiting for input).
    std::string readRest();
    // Everything the child writes to standard error (with separateErrors).
    std::string readErrors();
    // How many bytes of output wait in the pipe, unread.
    std::size_t unreadOutputBytes() const;
    // True once the child has ended (it is not reaped: wait() still works).
    bool ended() const;

    void write(const std::string& text);
    void closeInput();
    // Whatever is still unread in the child's input pipe.
    std::string unreadInput();

    // Waits for the child; the exit status, or -signal when a signal ended it.
    // A child that sits waiting for input the waiting test cannot give, or
    // that hangs, is killed, and the test fails.
    int wait();

private:
    // Blocked reading its input, with nothing on the way that would wake it.
    bool stuckOnInput() const;

    pid_t child = -1;
    int toChild = -1;
    int childInput = -1; // the read end, kept so unread input can be seen
    int fromChild = -1;
    int errorsFromChild = -1;
    std::string pending;
    std::string why; // why the last readLine gave no line
    bool waited = false;
};

} // namespace testing
} // namespace okr

#endif
