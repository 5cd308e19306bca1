// Runs a program with a DLL loaded into it before any of its own code runs,
// so that the DLL can redirect the program's imports; the program itself is
// unchanged. Standard input, output and error pass through, and the
// program's exit status becomes this one's.
//   okr-test-launch-with-dll DLL PROGRAM [ARGS...]
// Status 125 when the program could not be started with the DLL.
//
// The program starts suspended; a thread of its own, made here, loads the
// DLL. Under Wine that thread is the first to run in the new process, so the
// loader has bound the program's imports before the DLL's DllMain sees them.
// The program runs in a job that ends with this launcher: killing the
// launcher kills the program, as killing a program started directly would.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int launchFailed = 125;

int fail(const char* what)
{
    const DWORD error = GetLastError(); // none when the failure was the program's
    std::fprintf(stderr, "okr-test-launch-with-dll: %s", what);
    std::fprintf(stderr, error != 0 ? " (error %lu)\n" : "\n", error);
    return launchFailed;
}

// Quoted as the C runtime splits a command line; arguments with quotes or a
// trailing backslash are not needed here and refused.
bool appendArgument(std::string& commandLine, const char* argument)
{
    const std::size_t length = std::strlen(argument);
    if (std::strchr(argument, '"') != nullptr || (length > 0 && argument[length - 1] == '\\')) {
        return false;
    }
    commandLine += commandLine.empty() ? "\"" : " \"";
    commandLine += argument;
    commandLine += '"';
    return true;
}

bool inheritStandardHandles(STARTUPINFOA& startup)
{
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE &&
            !SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
            return false;
        }
    }
    return true;
}

HANDLE jobEndingWithThisProcess()
{
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job != nullptr && !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

// LoadLibraryA(dll) on a thread of the suspended process; false when the DLL
// did not load there (or refused to, from its DllMain).
bool loadInto(HANDLE process, const char* dll)
{
    const std::size_t size = std::strlen(dll) + 1;
    void* remote = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (remote == nullptr || !WriteProcessMemory(process, remote, dll, size, nullptr)) {
        return false;
    }
    // kernel32 lies at the same address in every process.
    const FARPROC loadLibrary = GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA");
    LPTHREAD_START_ROUTINE start = nullptr;
    static_assert(sizeof start == sizeof loadLibrary, "function pointers");
    std::memcpy(&start, &loadLibrary, sizeof start);
    HANDLE thread = CreateRemoteThread(process, nullptr, 0, start, remote, 0, nullptr);
    if (thread == nullptr) {
        return false;
    }
    DWORD loaded = 0;
    const bool ended = WaitForSingleObject(thread, INFINITE) == WAIT_OBJECT_0 && GetExitCodeThread(thread, &loaded);
    CloseHandle(thread);
    // The low half of the module's address: zero only when it did not load,
    // since a DLL is not placed on a multiple of 4 GiB (see its image base).
    return ended && loaded != 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: okr-test-launch-with-dll DLL PROGRAM [ARGS...]\n");
        return 2;
    }
    char dll[MAX_PATH];
    if (GetFullPathNameA(argv[1], MAX_PATH, dll, nullptr) == 0) {
        return fail("the DLL's path cannot be resolved");
    }
    std::string commandLine;
    for (int i = 2; i < argc; ++i) {
        if (!appendArgument(commandLine, argv[i])) {
            std::fprintf(stderr, "okr-test-launch-with-dll: cannot pass the argument %s\n", argv[i]);
            return 2;
        }
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!inheritStandardHandles(startup)) {
        return fail("standard handles cannot be inherited");
    }
    HANDLE job = jobEndingWithThisProcess();
    if (job == nullptr) {
        return fail("no job for the program");
    }
    PROCESS_INFORMATION program = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                        &program)) {
        return fail("the program cannot be started");
    }
    if (!AssignProcessToJobObject(job, program.hProcess) || !loadInto(program.hProcess, dll)) {
        const int status = fail("the DLL cannot be loaded into the program");
        TerminateProcess(program.hProcess, launchFailed);
        return status;
    }
    ResumeThread(program.hThread);
    DWORD status = launchFailed;
    if (WaitForSingleObject(program.hProcess, INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(program.hProcess, &status)) {
        return fail("the program's end cannot be awaited");
    }
    return static_cast<int>(status);
}
