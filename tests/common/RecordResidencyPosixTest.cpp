// Creating the information record must write none of its bytes: a write
// would wipe what other processes keep there. The block's memory is reserved
// at creation, so what shows a write, however small, is this process's own
// view: a page enters its Rss only when the process touches it.

#include "common/LogInfo"
#include "common/SharedSyncInfo"
#include "ipc/SharedType"
#include "support/ShmTestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

using namespace okr::testing;

// Kilobytes of the mapping that starts at address that this process has
// touched, from its "Rss:" line in /proc/self/smaps.
long residentKilobytes(const void* address)
{
    std::ifstream smaps("/proc/self/smaps");
    bool inMapping = false;
    std::string line;
    while (std::getline(smaps, line)) {
        // A mapping's first line starts "start-end", in hexadecimal.
        char* afterStart = nullptr;
        const unsigned long long start = std::strtoull(line.c_str(), &afterStart, 16);
        if (afterStart != line.c_str() && *afterStart == '-') {
            inMapping = start == reinterpret_cast<std::uintptr_t>(address);
        } else if (inMapping && line.compare(0, 4, "Rss:") == 0) {
            return std::stol(line.substr(4));
        }
    }
    ADD_FAILURE() << "no mapping starts at " << address;
    return -1;
}

TEST(RecordResidency, FreshInfoRecordHasNoResidentPage)
{
    const std::string name = uniqueName("resident-info");
    BlockCleanup cleanup(name);
    okr::ipc::SharedType<okr::common::LogInfo> info(name, 1);
    info.create();
    EXPECT_EQ(0, residentKilobytes(info.record()));
}

TEST(RecordResidency, FreshSyncRecordHasExactlyOneResidentPage)
{
    const std::string name = uniqueName("resident-sync");
    BlockCleanup cleanup(name);
    okr::ipc::SharedType<SharedSyncInfo> sync(name, 1);
    sync.create();
    EXPECT_EQ(sysconf(_SC_PAGESIZE) / 1024, residentKilobytes(sync.record()));
}

} // namespace
