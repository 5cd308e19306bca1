#include "TestRun.h"

#include "BootEvent.h"
#include "Console.h"
#include "LoginName.h"
#include "host/SharedFolder.h"

#include "common/LogInfo"
#include "common/RecordName"
#include "common/SharedSyncInfo"
#include "ipc/SharedException"
#include "ipc/SharedType"

#include <wx/utils.h>

#include <cstdint>
#include <iostream>
#include <string>

namespace okr {
namespace driver {

namespace {

constexpr int creatingSide = 1;

// After a failed creation the objects are never deleted, since deleting
// removes their names; they stay reachable here until the process ends.
struct LeftForInspection {
    void* info = nullptr;
    void* sync = nullptr;
} leftForInspection;

} // namespace

int runCheck()
{
    console::keepRunningOnBrokenOutput();

    std::cout << "Simulate a boot time event" << std::endl;
    simulateBootEvent();

    auto* sync = new ipc::SharedType<SharedSyncInfo>("okr-sync", creatingSide);
    // The platform's process id is unsigned; the name has always been built
    // from its signed 32-bit reading.
    const auto processId = static_cast<std::int32_t>(wxGetProcessId());
    auto* info = new ipc::SharedType<common::LogInfo>(common::infoRecordName(processId, loginNameUtf8(), "okr-info-"),
                                                      creatingSide);

    console::holdInterrupts();
    try {
        std::cout << "Creating info file " << info->name() << std::endl;
        info->create();
        std::cout << "Creating sync file " << sync->name() << std::endl;
        sync->create();
    } catch (const ipc::SharedException& e) {
        std::cout << "Error: " << e.what() << std::endl;
        leftForInspection = {info, sync};
        return 1;
    }

    const std::string folder = host::sharedFolder();
    std::cout << "Shared memory folder is: " << folder << std::endl;
    std::cout << "List shared memory files" << std::endl;
    host::listSharedFiles(folder, "okr-*");

    std::cout << "Press ENTER to finish test" << std::endl;
    const int interrupt = console::waitForEnter();

    delete info;
    delete sync;
    if (interrupt != 0) {
        console::endByInterrupt(interrupt);
    }
    return 0;
}

} // namespace driver
} // namespace okr
