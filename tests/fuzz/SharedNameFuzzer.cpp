// Any name given to the library either means one file inside the shared
// folder on every platform or is refused with the library's one exception,
// before anything is created.

#include "ipc/SharedName.h"
#include "ipc/SharedType"

#include <boost/interprocess/shared_memory_object.hpp>

#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>

namespace {

// The rule written down a second way: outside the folder, aliased by
// Windows (trailing "." or " "), a stream, a device, or no file name at all.
bool isRefused(const std::string& name)
{
    // [\s\S], unlike ".", also matches line ends.
    static const std::regex refused(
        R"(|[\s\S]*[. ]|[\s\S]*[\x00-\x1f/\\:<>"|?*][\s\S]*|(con|prn|aux|nul|(com|lpt)([1-9]|\xC2?[\xB9\xB2\xB3])) *(\.[\s\S]*)?)",
        std::regex::icase);
    return std::regex_match(name, refused);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string raw(reinterpret_cast<const char*>(data), size);
    if (okr::ipc::isValidSharedName(raw) == isRefused(raw)) {
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
