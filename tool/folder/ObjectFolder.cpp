#include "tool/folder/ObjectFolder.h"

#include "host/PlatformText.h"
#include "host/SharedFolder.h"

#include <utility>

namespace okr {
namespace tool {

// Boost's folder in the platform's narrow encoding, converted as the narrow
// calls Boost makes convert it: the same folder, named in UTF-8. Found
// without creating it: looking at the folder never writes.
std::string sharedFolderPath() { return host::platformTextToUtf8(host::sharedFolderWithoutCreating()); }

bool ObjectFolder::list(std::vector<FolderEntry>& entries, std::string& reason) const
{
    entries.clear();
    return forEach([&entries](FolderEntry& entry) { entries.push_back(std::move(entry)); }, reason);
}

} // namespace tool
} // namespace okr
