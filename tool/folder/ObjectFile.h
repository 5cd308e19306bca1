#ifndef OKR_TOOL_OBJECTFILE_H
#define OKR_TOOL_OBJECTFILE_H

#include <cstdint>
#include <ctime>
#include <string>

namespace okr {
namespace tool {

// What the file system says about one named block in the shared folder.
struct ObjectFile {
    std::string name; // its true name: bytes on POSIX, WTF-8 of its UTF-16 name on Windows
    std::uint64_t size = 0;
    std::string ownerId; // the owning account as the platform identifies it
    std::time_t modified = 0;
    // Which file this is: to match it with processes' mappings and to know
    // it again right before it is removed.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

// What a folder entry is, read from the entry itself, never from what it
// leads to.
enum class EntryType { file, folder, link, other };

} // namespace tool
} // namespace okr

#endif
