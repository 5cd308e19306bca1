#ifndef OKR_TOOL_OBJECTFOLDER_H
#define OKR_TOOL_OBJECTFOLDER_H

#include "tool/folder/ObjectFile.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace okr {
namespace tool {

// The shared folder as the tool names it: UTF-8 (WTF-8 on Windows, from the
// ANSI path Boost uses).
std::string sharedFolderPath();

struct FolderEntry {
    std::string name; // its true name
    EntryType type;   // as the listing says; inspect() reads it from the entry
};

enum class Hold { free, held, unknown };

// True when nothing exists at path: no folder of objects yet, which is not
// the same as one that cannot be read.
bool folderIsMissing(const std::string& path);

// One folder of shared objects, opened once. Every later look at one of its
// entries goes through that entry's true name inside this folder and never
// follows a link: on POSIX relative to the folder's descriptor, on Windows
// with the wide calls, checked on the handle against the folder's resolved
// path.
class ObjectFolder {
public:
    ObjectFolder();
    ~ObjectFolder();
    ObjectFolder(ObjectFolder&& other) noexcept;
    ObjectFolder& operator=(ObjectFolder&& other) noexcept;
    ObjectFolder(const ObjectFolder&) = delete;
    ObjectFolder& operator=(const ObjectFolder&) = delete;

    // Opens the folder at path, which must be a folder and not a link; false
    // with the system's reason.
    bool open(const std::string& path, std::string& reason);
    const std::string& path() const;
    std::uint64_t device() const;

    // Every entry but "." and "..".
    bool list(std::vector<FolderEntry>& entries, std::string& reason) const;
    // The same, each handed to visit as soon as it is read: looked at while
    // the system still has it at hand, and no list of every entry is kept.
    using Visit = std::function<void(FolderEntry& entry)>;
    bool forEach(const Visit& visit, std::string& reason) const;
    // About how many entries the folder holds, where its file system says
    // (0 where it does not): room to reserve, never a count to rely on.
    std::size_t entryCountHint() const;

    enum class Look { found, gone, failed };
    // What the entry name is and, for a file, its facts.
    Look inspect(const std::string& name, ObjectFile& file, EntryType& type, std::string& reason) const;

    // Whether some process holds the file open right now. Only Windows can
    // tell this about a file; elsewhere the answer is unknown.
    Hold hold(const std::string& name) const;

    struct Snapshot {
        enum Outcome { read, gone, notFile, changed, cannotOpen, cannotRead } outcome = gone;
        std::string reason; // the system's words for cannotOpen and cannotRead
        ObjectFile file;
        std::vector<unsigned char> bytes; // only when the file holds exactly the size asked for
    };
    // The regular file name read through one handle on it: its facts, its
    // bytes if it holds exactly size of them, then its facts again; changed
    // when they differ or the bytes ran short.
    Snapshot read(const std::string& name, std::size_t size) const;

    struct Native; // the platform's handle on the folder
    const Native& native() const { return *state; }

private:
    std::unique_ptr<Native> state;
};

} // namespace tool
} // namespace okr

#endif
