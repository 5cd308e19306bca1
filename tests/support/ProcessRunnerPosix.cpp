#include "ProcessRunner.h"

#include <cstdio>

#include <sys/wait.h>

namespace okr {
namespace testing {

ProcessResult runCommand(const std::string& commandLine)
{
    ProcessResult result;
    FILE* pipe = popen(commandLine.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.output.append(buffer, got);
    }
    const int raw = pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
}

} // namespace testing
} // namespace okr
