#include "common/SharedSyncInfo"
#include "ipc/SharedType"
#include "support/ProcessRunner.h"
#include "support/ShmTestSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace okr::testing;

std::string readerCommand(const std::string& name) { return std::string(OKR_BLOCK_READER) + " " + name; }

TEST(SecondProcess, OpensReadOnlyAndSeesTheCreatorsBytes)
{
    const std::string name = uniqueName("peer");
    BlockCleanup cleanup(name);
    okr::ipc::SharedType<SharedSyncInfo> writer(name, 1);
    writer.create();
    for (unsigned i = 0; i < 16; ++i) {
        writer.record()->bytes[i] = static_cast<unsigned char>(0xF0u + i);
    }

    const ProcessResult peer = runCommand(readerCommand(name));

    EXPECT_EQ(0, peer.status);
    EXPECT_EQ("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff\n", peer.output);
    EXPECT_FALSE(blockExists(name)) << "the opening side removes the name when it is deleted";
    EXPECT_EQ(0xF3, writer.record()->bytes[3]) << "the creator's mapping outlives the name";
}

TEST(SecondProcess, MissingBlockGivesTheLibrarysOneError)
{
    const ProcessResult peer = runCommand(readerCommand(uniqueName("nobody")));
    EXPECT_EQ(1, peer.status);
    EXPECT_EQ("error: Cannot open shared memory\n", peer.output);
}

} // namespace
