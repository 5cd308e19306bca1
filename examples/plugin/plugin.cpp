// A plug-in's use of okr: publishes a synchronisation record under the
// name its host gives, reads it back through a second, read-only object,
// and removes it again.

#include <common/SharedSyncInfo>
#include <ipc/SharedType>

// The byte read back (42), or -1 when the layer failed.
extern "C" int okr_plugin_round_trip(const char* name)
{
    try {
        okr::ipc::SharedType<SharedSyncInfo> writer(name, 1);
        writer.create();
        writer.record()->bytes[0] = 42;

        okr::ipc::SharedType<SharedSyncInfo> reader(name, 0);
        reader.create();
        return reader.record()->bytes[0];
    } catch (const okr::ipc::SharedException&) {
        return -1;
    }
}
