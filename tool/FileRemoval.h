#ifndef OKR_TOOL_FILEREMOVAL_H
#define OKR_TOOL_FILEREMOVAL_H

#include <string>

namespace okr {
namespace tool {

enum class Hold { free, held, unknown };

// Whether some process holds the file open right now. Only Windows can tell
// this about a file; elsewhere the answer is unknown.
Hold holdOf(const std::string& path);

struct Removal {
    enum Outcome { removed, held, failed } outcome;
    std::string reason; // for failed: the system's words
};

// Removes one file. On Windows it is removed only if no process holds it
// open at that very moment, in one step, so nobody can open it in between.
Removal removeFile(const std::string& path);

// Removes a folder if it is empty.
Removal removeEmptyFolder(const std::string& path);

} // namespace tool
} // namespace okr

#endif
