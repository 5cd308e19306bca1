#include "FileRemoval.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace okr {
namespace tool {

namespace {

Removal outcomeOf(int result)
{
    if (result == 0) {
        return {Removal::removed, std::string()};
    }
    return {Removal::failed, std::strerror(errno)};
}

} // namespace

// Which processes map a block is read from /proc instead.
Hold holdOf(const std::string&) { return Hold::unknown; }

Removal removeFile(const std::string& path) { return outcomeOf(unlink(path.c_str())); }

Removal removeEmptyFolder(const std::string& path) { return outcomeOf(rmdir(path.c_str())); }

} // namespace tool
} // namespace okr
