#ifndef OKR_TOOL_FILEREMOVAL_H
#define OKR_TOOL_FILEREMOVAL_H

#include "tool/folder/ObjectFolder.h"
#include "tool/inventory/ProcessTable.h"

#include <cstdint>
#include <functional>
#include <string>

namespace okr {
namespace tool {

struct Removal {
    enum Outcome { removed, alreadyGone, kept, failed } outcome;
    std::string reason; // kept: why; failed: the system's words (removalFailed)
};

// A removal the system refused, with its words for the error code (errno,
// GetLastError()) and nothing else: clean says "cannot remove NAME: " before
// them, in one wording on every platform.
Removal removalFailed(std::int64_t systemCode);

// Given who uses the object at the last moment, why it must stay; empty
// when it may go.
using Verdict = std::function<std::string(const ObjectUse& now)>;

// Removes the file of folder that the inventory saw as seen, but only if it
// is still that very regular file and verdict, asked once nobody can newly
// reach the object by its name, lets it go. Each platform's file says how.
Removal removeObject(const ObjectFolder& folder, const ObjectFile& seen, const Verdict& verdict);

// Removes the folder named name in parent if it is still the one opened as
// folder (no link) and is empty.
Removal removeEmptyFolder(const ObjectFolder& parent, const std::string& name, const ObjectFolder& folder);

} // namespace tool
} // namespace okr

#endif
