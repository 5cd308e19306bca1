#include "tool/folder/ObjectFolder.h"

#include "host/PlatformText.h"
#include "host/SharedFolder.h"

namespace okr {
namespace tool {

// Boost's folder in the platform's narrow encoding, converted as the narrow
// calls Boost makes convert it: the same folder, named in UTF-8.
std::string sharedFolderPath() { return host::platformTextToUtf8(host::sharedFolder()); }

} // namespace tool
} // namespace okr
