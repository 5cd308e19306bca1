#ifndef OKR_DRIVER_TESTRUN_H
#define OKR_DRIVER_TESTRUN_H

namespace okr {
namespace driver {

// The console check from start to end. Returns the exit status: 0 after a
// complete run, 1 when a shared object cannot be created. An interrupt
// during the wait removes both objects and ends the process by that
// interrupt instead.
int runCheck();

} // namespace driver
} // namespace okr

#endif
