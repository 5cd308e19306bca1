#ifndef OKR_TOOL_STANDARDSTREAMS_H
#define OKR_TOOL_STANDARDSTREAMS_H

#include "tool/output/OutputChannel.h"

#include <memory>
#include <streambuf>

namespace okr {
namespace tool {

// Takes over std::cout and std::cerr for its lifetime: standard output is
// written in large blocks and standard error in whole lines, never a system
// call per character, and a write that fails is remembered, so that the
// tool fails at its end as coreutils do rather than lose output unnoticed.
class StandardStreams {
public:
    StandardStreams();
    ~StandardStreams();
    StandardStreams(const StandardStreams&) = delete;
    StandardStreams& operator=(const StandardStreams&) = delete;

    // Writes what is still held and closes standard output. False, after
    // "okr-shm: write error: <reason>" on standard error, when some of it
    // could not be written; a reader that went away (a closed pipe, as
    // `| head` leaves) is no failure and is not reported.
    bool finish();

private:
    class Buffer;
    OutputChannel outputChannel;
    OutputChannel errorChannel;
    std::unique_ptr<Buffer> output;
    std::unique_ptr<Buffer> errors;
    std::streambuf* oldOutput;
    std::streambuf* oldErrors;
};

} // namespace tool
} // namespace okr

#endif
