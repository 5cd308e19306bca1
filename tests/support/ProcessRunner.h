#ifndef OKR_TESTS_PROCESSRUNNER_H
#define OKR_TESTS_PROCESSRUNNER_H

#include <string>
#include <vector>

namespace okr {
namespace testing {

struct ProcessResult {
    int status = -1;
    std::string output;
};

// Runs a command line and collects its exit status and its standard output,
// with line ends as "\n" on every platform.
ProcessResult runCommand(const std::string& commandLine);

// The start of a command line that runs the rest under strace, quietly, to
// hold it at a chosen call or answer one for the system. LeakSanitizer
// cannot run under ptrace: off for the sanitized build.
#define OKR_UNDER_STRACE "strace -f -qq -o /dev/null -E ASAN_OPTIONS=detect_leaks=0 "

// Starts every command line before it waits for any, so that they run at
// the same time; their results in the same order.
std::vector<ProcessResult> runConcurrently(const std::vector<std::string>& commandLines);

} // namespace testing
} // namespace okr

#endif
