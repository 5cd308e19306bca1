#ifndef OKR_TESTS_PRIVATESHAREDMEMORY_H
#define OKR_TESTS_PRIVATESHAREDMEMORY_H

#include <gtest/gtest.h>

namespace okr {
namespace testing {

// A test with a /dev/shm of its own: the test process enters a new mount
// namespace with an empty tmpfs on /dev/shm, so every process it starts
// shares that folder and nothing the test does reaches the machine's
// objects (a real "okr-sync" among them). Without root the test falls back
// on the machine's /dev/shm, where ctest's resource lock keeps such tests
// apart.
class PrivateSharedMemory : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    bool isolated() const { return outerMounts >= 0; }

private:
    int outerMounts = -1;
};

} // namespace testing
} // namespace okr

#endif
