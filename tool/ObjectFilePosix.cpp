#include "ObjectFile.h"

#include <sys/stat.h>

namespace okr {
namespace tool {

bool inspectObjectFile(const std::string& folder, const std::string& name, ObjectFile& file)
{
    struct stat facts;
    // lstat: a symbolic link is not a block, and following it would report
    // on something outside the folder.
    if (lstat((folder + "/" + name).c_str(), &facts) != 0 || !S_ISREG(facts.st_mode)) {
        return false;
    }
    file.name = name;
    file.size = static_cast<std::uint64_t>(facts.st_size);
    file.ownerId = std::to_string(facts.st_uid);
    file.modified = facts.st_mtime;
    file.device = facts.st_dev;
    file.inode = facts.st_ino;
    return true;
}

} // namespace tool
} // namespace okr
