#ifndef OKR_TESTS_PROCESSRUNNER_H
#define OKR_TESTS_PROCESSRUNNER_H

#include <string>

namespace okr {
namespace testing {

struct ProcessResult {
    int status = -1;
    std::string output;
};

// Runs a command line through the platform's shell and collects its
// standard output and exit status.
ProcessResult runCommand(const std::string& commandLine);

} // namespace testing
} // namespace okr

#endif
