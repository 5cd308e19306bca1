#ifndef OKR_TOOL_RECORDLAYOUT_H
#define OKR_TOOL_RECORDLAYOUT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace okr {
namespace tool {

// What an object holds, as its name says: "okr-sync" the synchronisation
// record, "okr-info-" and a checksum an information record, a hidden name of
// SharedRecord's (UnpublishedName.h) a record whose creator has not
// published it (yet, or ever: it was killed).
enum class Kind { sync, info, unpublished, other };

Kind kindOf(const std::string& name);
// The checksum of an information record's name, which is what tells whose
// it is, however its prefix is spelled; for a name whose kind is info. Short
// enough to make no copy on the heap.
std::string infoChecksum(const std::string& name);
const char* kindName(Kind kind);

struct Area {
    std::string name;
    std::size_t offset;
    std::size_t size;
};

struct RecordLayout {
    const char* typeName;
    std::size_t size;
    std::vector<Area> areas; // in address order, together the whole record
};

// The record an object of this kind holds; null for any other object.
const RecordLayout* recordLayout(Kind kind);

// "ok" when an object of size bytes holds exactly the record, else "wrong size".
const char* fitText(const RecordLayout& layout, std::uint64_t size);

} // namespace tool
} // namespace okr

#endif
