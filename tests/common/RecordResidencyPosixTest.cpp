// Creating the information record must write none of its bytes: a write
// would wipe what other processes keep there, and would cost 34 pages of
// memory per process. Page residency shows any write, however small.

#include "common/LogInfo"
#include "common/SharedSyncInfo"
#include "ipc/SharedType"
#include "support/ShmTestSupport.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <vector>

namespace {

using namespace okr::testing;

std::size_t residentPages(const void* address, std::size_t size)
{
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> pages((size + page - 1) / page);
    if (mincore(const_cast<void*>(address), size, pages.data()) != 0) {
        ADD_FAILURE() << "mincore failed";
        return pages.size();
    }
    std::size_t resident = 0;
    for (unsigned char flags : pages) {
        resident += flags & 1u;
    }
    return resident;
}

TEST(RecordResidency, FreshInfoRecordHasNoResidentPage)
{
    const std::string name = uniqueName("resident-info");
    BlockCleanup cleanup(name);
    okr::ipc::SharedType<okr::common::LogInfo> info(name, 1);
    info.create();
    EXPECT_EQ(0u, residentPages(info.record(), sizeof(okr::common::LogInfo)));
}

TEST(RecordResidency, FreshSyncRecordHasExactlyOneResidentPage)
{
    const std::string name = uniqueName("resident-sync");
    BlockCleanup cleanup(name);
    okr::ipc::SharedType<SharedSyncInfo> sync(name, 1);
    sync.create();
    EXPECT_EQ(1u, residentPages(sync.record(), sizeof(SharedSyncInfo)));
}

} // namespace
