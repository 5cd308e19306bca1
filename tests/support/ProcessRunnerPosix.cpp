#include "ProcessRunner.h"

#include <cstdio>

#include <sys/wait.h>

namespace okr {
namespace testing {

namespace {

ProcessResult finish(FILE* pipe)
{
    ProcessResult result;
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

} // namespace

ProcessResult runCommand(const std::string& commandLine) { return finish(popen(commandLine.c_str(), "r")); }

std::vector<ProcessResult> runConcurrently(const std::vector<std::string>& commandLines)
{
    std::vector<FILE*> pipes;
    pipes.reserve(commandLines.size());
    for (const std::string& line : commandLines) {
        pipes.push_back(popen(line.c_str(), "r"));
    }
    std::vector<ProcessResult> results;
    results.reserve(commandLines.size());
    for (FILE* pipe : pipes) {
        results.push_back(finish(pipe));
    }
    return results;
}

} // namespace testing
} // namespace okr
