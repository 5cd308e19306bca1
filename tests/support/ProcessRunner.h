#ifndef OKR_TESTS_PROCESSRUNNER_H
#define OKR_TESTS_PROCESSRUNNER_H

#include <string>

namespace okr {
namespace testing {

struct ProcessResult {
    int status = -1;
    std::string output;
};

// Runs a command line and collects its exit status and its standard output,
// with line ends as "\n" on every platform.
ProcessResult runCommand(const std::string& commandLine);

} // namespace testing
} // namespace okr

#endif
