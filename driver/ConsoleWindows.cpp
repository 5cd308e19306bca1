#include "Console.h"

#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdlib>

namespace okr {
namespace driver {
namespace console {

namespace {

// Console control events arrive on a thread of their own. The handler only
// records the event and wakes or breaks the main thread's wait; the main
// thread then removes the objects and ends the process, while a closing
// console waits for it.
std::atomic<int> caught{0};
HANDLE mainThread = nullptr;
HANDLE interrupted = nullptr;
HANDLE cleanedUp = nullptr;

constexpr DWORD closeGraceMs = 4000; // Windows allows a closing console 5 s

BOOL WINAPI onControl(DWORD event)
{
    const int interrupt = (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) ? SIGINT : SIGTERM;
    int none = 0;
    caught.compare_exchange_strong(none, interrupt);
    SetEvent(interrupted);
    // The main thread may be between its check and its read; keep breaking
    // the read until it has finished.
    for (DWORD waited = 0; waited < closeGraceMs; waited += 50) {
        CancelSynchronousIo(mainThread);
        if (WaitForSingleObject(cleanedUp, 50) == WAIT_OBJECT_0) {
            break;
        }
    }
    return TRUE;
}

} // namespace

void keepRunningOnBrokenOutput()
{
    // A failed write on Windows is an error return, never a signal.
}

void holdInterrupts()
{
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &mainThread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    interrupted = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    cleanedUp = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onControl, TRUE);
}

namespace {

// Waits until a pipe has a byte to read or an interrupt arrives, without
// blocking in ReadFile: not every system can cancel a read on a pipe.
// False when the wait ended by an interrupt.
bool waitForPipeInput(HANDLE input)
{
    for (;;) {
        if (caught.load() != 0) {
            return false;
        }
        DWORD available = 0;
        if (!PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr) || available > 0) {
            return true; // a byte, or a closed pipe, which reads as end of input
        }
        WaitForSingleObject(interrupted, 50);
    }
}

} // namespace

int waitForEnter()
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) {
        return caught.load();
    }
    if (GetFileType(input) == FILE_TYPE_PIPE && !waitForPipeInput(input)) {
        return caught.load();
    }
    for (;;) {
        if (caught.load() != 0) {
            return caught.load();
        }
        char byte = 0;
        DWORD got = 0;
        if (ReadFile(input, &byte, 1, &got, nullptr)) {
            // A console reports Ctrl-C as an empty read before the handler runs.
            if (got == 0 && caught.load() == 0) {
                WaitForSingleObject(interrupted, 100);
            }
            return caught.load();
        }
        if (GetLastError() != ERROR_OPERATION_ABORTED) {
            return caught.load(); // broken or closed input ends the wait
        }
    }
}

void endByInterrupt(int interrupt)
{
    if (cleanedUp != nullptr) {
        SetEvent(cleanedUp);
    }
    // The status Windows gives a process ended by Ctrl-C.
    ExitProcess(interrupt == SIGINT ? 0xC000013AU : 1U);
}

} // namespace console
} // namespace driver
} // namespace okr
