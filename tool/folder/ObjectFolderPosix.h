#ifndef OKR_TOOL_OBJECTFOLDERPOSIX_H
#define OKR_TOOL_OBJECTFOLDERPOSIX_H

#include "tool/folder/ObjectFolder.h"

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace okr {
namespace tool {

struct ObjectFolder::Native {
    int fd = -1; // every entry is reached relative to it
    std::string path;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

// The facts of a regular file as the inventory keeps them.
ObjectFile objectFileOf(const std::string& name, const struct stat& facts);

} // namespace tool
} // namespace okr

#endif
