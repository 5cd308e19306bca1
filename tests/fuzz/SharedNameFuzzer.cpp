// Any name given to the library either stays inside the shared folder or is
// refused with the library's one exception, before anything is created.

#include "ipc/SharedName.h"
#include "ipc/SharedType"

#include <boost/interprocess/shared_memory_object.hpp>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool leavesTheFolder(const std::string& name)
{
    return name.empty() || name == "." || name == ".." ||
           name.find_first_of(std::string("/\\\0", 3)) != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string raw(reinterpret_cast<const char*>(data), size);
    if (okr::ipc::isValidSharedName(raw) == leavesTheFolder(raw)) {
        std::abort();
    }

    // Real blocks, under a prefix no one else uses.
    const std::string name = "okrfuzz-" + raw;
    try {
        okr::ipc::SharedTypeBase block(name, 1);
        block.create(16);
        if (!okr::ipc::isValidSharedName(name) || block.address() == nullptr) {
            std::abort(); // a refused name must never reach the platform
        }
    } catch (const okr::ipc::SharedException&) {
        // Refused, or the platform said no (too long, say): both are fine.
    }
    // The destructor has removed it; nothing may be left under that name.
    if (okr::ipc::isValidSharedName(name)) {
        try {
            boost::interprocess::shared_memory_object left(boost::interprocess::open_only, name.c_str(),
                                                           boost::interprocess::read_only);
            std::abort();
        } catch (const boost::interprocess::interprocess_exception&) {
        }
    }
    return 0;
}
