// A tmpfs object that truncate has sized holds no memory yet: its pages are
// taken on first write, and a write into a page that a full /dev/shm cannot
// supply ends the writer with SIGBUS. posix_fallocate takes them now.

#include "BlockReservation.h"

#include <boost/interprocess/errors.hpp>
#include <boost/interprocess/exceptions.hpp>

#include <fcntl.h>

#include <cerrno>

namespace bip = boost::interprocess;

namespace okr {
namespace ipc {

void reserveBlockMemory(const bip::shared_memory_object& block, std::size_t size)
{
    if (size == 0) {
        return; // posix_fallocate refuses an empty range; there is nothing to hold
    }
    int error = 0;
    do {
        error = posix_fallocate(block.get_mapping_handle().handle, 0, static_cast<off_t>(size));
    } while (error == EINTR);
    if (error != 0) {
        throw bip::interprocess_exception(bip::error_info(error));
    }
}

} // namespace ipc
} // namespace okr
