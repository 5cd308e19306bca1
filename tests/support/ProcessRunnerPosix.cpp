#include "ProcessRunner.h"

#include <cstdio>

#ifdef _WIN32
#define OKR_POPEN _popen
#define OKR_PCLOSE _pclose
#else
#include <sys/wait.h>
#define OKR_POPEN popen
#define OKR_PCLOSE pclose
#endif

namespace okr {
namespace testing {

ProcessResult runCommand(const std::string& commandLine)
{
    ProcessResult result;
    FILE* pipe = OKR_POPEN(commandLine.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.output.append(buffer, got);
    }
    const int raw = OKR_PCLOSE(pipe);
#ifdef _WIN32
    result.status = raw;
#else
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
    return result;
}

} // namespace testing
} // namespace okr
