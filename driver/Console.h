#ifndef OKR_DRIVER_CONSOLE_H
#define OKR_DRIVER_CONSOLE_H

namespace okr {
namespace driver {
namespace console {

// A closed or broken standard output must fail the write, not end the
// process before it has removed its shared objects.
void keepRunningOnBrokenOutput();

// From here on an interrupt (Ctrl-C, termination, a closed terminal or
// console) no longer ends the process at once; it ends the wait instead, so
// that the caller can remove what it created.
void holdInterrupts();

// Waits for the operator: consumes exactly one byte of standard input,
// unbuffered, so that whatever follows stays for the next reader. Returns 0
// for a byte or end of input, or the interrupt that ended the wait.
int waitForEnter();

// Ends the process the way the interrupt would have ended it.
[[noreturn]] void endByInterrupt(int interrupt);

} // namespace console
} // namespace driver
} // namespace okr

#endif
