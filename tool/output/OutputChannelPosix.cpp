#include "tool/output/OutputChannel.h"
#include "tool/system/SystemReason.h"

#include <cerrno>
#include <csignal>

#include <unistd.h>

namespace okr {
namespace tool {

struct OutputChannel::Device {
    int descriptor;
    bool written;
};

OutputChannel::OutputChannel(Which which)
    : device(new Device{which == standardOutput ? STDOUT_FILENO : STDERR_FILENO, false})
{
    // A closed pipe shows as EPIPE instead of ending the process between two
    // steps of its work, clean's removals among them.
    std::signal(SIGPIPE, SIG_IGN);
}

OutputChannel::~OutputChannel() { delete device; }

bool OutputChannel::write(const char* data, std::size_t size)
{
    device->written = device->written || size > 0;
    while (size > 0) {
        const ssize_t done = ::write(device->descriptor, data, size);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            gone = done < 0 && errno == EPIPE;
            why = done < 0 ? systemReason(errno) : "nothing written";
            return false;
        }
        data += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

bool OutputChannel::close()
{
    // As coreutils' close_stdout: an output that was never opened is no error
    // when nothing was written to it.
    if (::close(device->descriptor) == 0 || errno == EINTR || (errno == EBADF && !device->written)) {
        return true;
    }
    why = systemReason(errno);
    return false;
}

} // namespace tool
} // namespace okr
