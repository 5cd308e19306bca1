#ifndef OKR_TOOL_OBJECTFILE_H
#define OKR_TOOL_OBJECTFILE_H

#include <cstdint>
#include <ctime>
#include <string>

namespace okr {
namespace tool {

// What the file system says about one named block in the shared folder.
struct ObjectFile {
    std::string name;
    std::uint64_t size = 0;
    std::string ownerId; // the owning account as the platform identifies it
    std::time_t modified = 0;
    // Which file this is, to match it with processes' mappings.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

// Reads the facts of the regular file folder/name into file; false when it
// is gone or is no regular file.
bool inspectObjectFile(const std::string& folder, const std::string& name, ObjectFile& file);

} // namespace tool
} // namespace okr

#endif
