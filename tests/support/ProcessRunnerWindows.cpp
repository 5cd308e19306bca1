#include "ProcessRunner.h"

#include <windows.h>

#include <vector>

namespace okr {
namespace testing {

namespace {

struct Started {
    HANDLE process = nullptr;
    HANDLE output = nullptr; // the read end of the child's standard output
};

Started start(const std::string& commandLine)
{
    Started started;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        return started;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    const BOOL ok =
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (!ok) {
        CloseHandle(readEnd);
        return started;
    }
    CloseHandle(process.hThread);
    started.process = process.hProcess;
    started.output = readEnd;
    return started;
}

ProcessResult finish(const Started& started)
{
    ProcessResult result;
    if (started.process == nullptr) {
        return result;
    }
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(started.output, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        result.output.append(buffer, got);
    }
    CloseHandle(started.output);
    // Text-mode output ends lines with CR LF; callers compare lines.
    std::string::size_type cr = 0;
    while ((cr = result.output.find("\r\n", cr)) != std::string::npos) {
        result.output.erase(cr, 1);
    }
    WaitForSingleObject(started.process, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(started.process, &status);
    result.status = static_cast<int>(status);
    CloseHandle(started.process);
    return result;
}

} // namespace

// Started directly rather than through cmd.exe, which adds a process (and,
// under Wine, a source of flakiness) for nothing.
ProcessResult runCommand(const std::string& commandLine) { return finish(start(commandLine)); }

std::vector<ProcessResult> runConcurrently(const std::vector<std::string>& commandLines)
{
    std::vector<Started> started;
    started.reserve(commandLines.size());
    for (const std::string& line : commandLines) {
        started.push_back(start(line));
    }
    std::vector<ProcessResult> results;
    results.reserve(commandLines.size());
    for (const Started& one : started) {
        results.push_back(finish(one));
    }
    return results;
}

} // namespace testing
} // namespace okr
