// Publishes a synchronisation record under a name of its own, reads it back
// through a second, read-only object, and removes it again.

#include <common/RecordName>
#include <common/SharedSyncInfo>
#include <ipc/SharedType>

#include <cstdio>
#include <string>

int main()
{
    const std::string name = okr::common::infoRecordName(1234, "abc", "okr-consumer-");
    auto* writer = new okr::ipc::SharedType<SharedSyncInfo>(name, 1);
    try {
        writer->create();
        writer->record()->bytes[0] = 42;

        okr::ipc::SharedType<SharedSyncInfo> reader(name, 0);
        reader.create();
        std::printf("%s holds %d\n", name.c_str(), reader.record()->bytes[0]);
    } catch (const okr::ipc::SharedException& e) {
        std::printf("Error: %s\n", e.what());
        delete writer;
        return 1;
    }
    delete writer;
    return 0;
}
