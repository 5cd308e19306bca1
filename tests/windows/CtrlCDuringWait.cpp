// Ctrl-C during the wait, as an operator presses it: starts the check on a
// console of this helper's own with its input a pipe that stays open, waits
// for the prompt, sends Ctrl-C to the console, and checks that the check
// ended as Ctrl-C ends a process and removed both of its files.
//   okr-test-ctrl-c CHECK_EXE

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr DWORD ctrlCStatus = 0xC000013A;
constexpr ULONGLONG patienceMs = 30000;

// The helper shares the console, so it receives the Ctrl-C too. A handler
// of its own, unlike ignoring Ctrl-C, is not inherited by the check.
BOOL WINAPI outlive(DWORD) { return TRUE; }

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string lineAfter(const std::string& output, const std::string& label)
{
    const auto start = output.find(label);
    if (start == std::string::npos) {
        return std::string();
    }
    const auto from = start + label.size();
    return output.substr(from, output.find_first_of("\r\n", from) - from);
}

// Reads what the check writes until text appears or the check ends.
bool readUntil(HANDLE pipe, HANDLE process, const std::string& text, std::string& output)
{
    const ULONGLONG deadline = GetTickCount64() + patienceMs;
    while (output.find(text) == std::string::npos && GetTickCount64() < deadline) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
            return false; // the check has ended and closed its output
        }
        char buffer[4096];
        DWORD got = 0;
        if (available == 0) {
            WaitForSingleObject(process, 20);
        } else if (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr)) {
            output.append(buffer, got);
        }
    }
    return output.find(text) != std::string::npos;
}

void readToEnd(HANDLE pipe, std::string& output)
{
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        output.append(buffer, got);
    }
}

int fail(const char* what, const std::string& output)
{
    std::printf("FAIL: %s\n--- output of the check:\n%s\n", what, output.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: okr-test-ctrl-c CHECK_EXE\n");
        return 2;
    }
    FreeConsole();
    AllocConsole();
    SetConsoleCtrlHandler(outlive, TRUE);

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE inputRead = nullptr;
    HANDLE inputWrite = nullptr;
    HANDLE outputRead = nullptr;
    HANDLE outputWrite = nullptr;
    if (!CreatePipe(&inputRead, &inputWrite, &inherit, 0) || !CreatePipe(&outputRead, &outputWrite, &inherit, 0)) {
        return fail("no pipes", std::string());
    }
    SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outputRead, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead;
    startup.hStdOutput = outputWrite;
    startup.hStdError = outputWrite;
    PROCESS_INFORMATION check = {};
    std::string commandLine = std::string("\"") + argv[1] + "\"";
    // In the helper's process group, so the console's Ctrl-C reaches it.
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &check)) {
        return fail("the check did not start", std::string());
    }
    CloseHandle(inputRead);
    CloseHandle(outputWrite);

    const std::string prompt = "Press ENTER to finish test\r\n";
    std::string output;
    std::string info;
    std::string sync;
    const char* fault = [&]() -> const char* {
        if (!readUntil(outputRead, check.hProcess, prompt, output)) {
            return "no prompt";
        }
        const std::string folder = lineAfter(output, "Shared memory folder is: ");
        info = folder + "/" + lineAfter(output, "Creating info file ");
        sync = folder + "/okr-sync";
        if (!exists(info) || !exists(sync)) {
            return "the files are missing while the check waits";
        }
        if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
            return "Ctrl-C could not be sent";
        }
        if (WaitForSingleObject(check.hProcess, static_cast<DWORD>(patienceMs)) != WAIT_OBJECT_0) {
            return "the check did not end after Ctrl-C";
        }
        readToEnd(outputRead, output);
        DWORD status = 0;
        GetExitCodeProcess(check.hProcess, &status);
        if (status != ctrlCStatus) {
            std::printf("status 0x%lX\n", status);
            return "the check did not end as Ctrl-C ends a process";
        }
        if (exists(info) || exists(sync)) {
            return "the files outlived the check";
        }
        if (output.size() - output.find(prompt) != prompt.size()) {
            return "the check wrote after its prompt";
        }
        return nullptr;
    }();
    // Only now does input end, so that end of input cannot be what ended the wait.
    CloseHandle(inputWrite);
    if (fault != nullptr) {
        // Leaves nothing behind for the next run.
        TerminateProcess(check.hProcess, 1);
        WaitForSingleObject(check.hProcess, INFINITE);
        DeleteFileA(info.c_str());
        DeleteFileA(sync.c_str());
        return fail(fault, output);
    }
    std::printf("Ctrl-C during the wait: status 0xC000013A, both files removed\n");
    return 0;
}
