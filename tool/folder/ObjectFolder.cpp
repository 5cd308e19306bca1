#include "tool/folder/ObjectFolder.h"

#include "host/PlatformText.h"
#include "host/SharedFolder.h"

namespace okr {
namespace tool {

// Boost's folder in the platform's narrow encoding, converted as the narrow
// calls Boost makes convert it: the same folder, named in UTF-8. Found
// without creating it: looking at the folder never writes.
std::string sharedFolderPath() { return host::platformTextToUtf8(host::sharedFolderWithoutCreating()); }

} // namespace tool
} // namespace okr
