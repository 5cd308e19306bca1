// The boot-record scanner reads bytes the event log hands over; whatever
// they are, it must stay inside them and give a consistent answer.

#include "ipc/BootStamp.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A copy of exactly the input's size, so that any read past its end is
    // caught by AddressSanitizer.
    std::vector<unsigned char> bytes(data, data + size);
    std::uint32_t time = 0xFFFFFFFFu;
    const okr::ipc::BootRecordScan scan = okr::ipc::findBootRecord(bytes.data(), bytes.size(), time);

    if (scan != okr::ipc::BootRecordScan::found && time != 0xFFFFFFFFu) {
        std::abort(); // a time reported without a record
    }
    if (scan == okr::ipc::BootRecordScan::notFound && size % 4 != 0) {
        std::abort(); // well-formed records always fill whole 4-byte units
    }
    return 0;
}
