#include "tool/commands/Commands.h"
#include "tool/folder/NameRules.h"
#include "tool/folder/ObjectFolder.h"
#include "tool/folder/SetAsideName.h"
#include "tool/inventory/RecordLayout.h"
#include "tool/output/HexDump.h"
#include "tool/output/JsonOutput.h"
#include "tool/output/PrintedName.h"
#include "tool/output/TextTable.h"

#include <algorithm>
#include <iostream>
#include <vector>

namespace okr {
namespace tool {

namespace {

// The first of names (in their order) that names an entry of the folder as
// the file system compares names, as its true name in trueName: on Windows
// "okr-SYNC" finds the file "okr-sync". Only a name the listing gave is ever
// opened, so no name given reaches past the folder.
bool findEntry(const ObjectFolder& folder, const std::vector<std::string>& names, std::string& trueName,
               std::string& reason)
{
    std::vector<FolderEntry> entries;
    if (!folder.list(entries, reason)) {
        return false;
    }
    for (const std::string& name : names) {
        for (const FolderEntry& entry : entries) {
            if (sameName(entry.name, name)) {
                trueName = entry.name;
                return true;
            }
        }
    }
    reason.clear();
    return false;
}

std::size_t nonZeroBytes(const unsigned char* bytes, std::size_t size)
{
    return static_cast<std::size_t>(size - static_cast<std::size_t>(std::count(bytes, bytes + size, 0)));
}

constexpr std::size_t firstBytes = 16;

void printFacts(const ObjectFile& file, Kind kind, const RecordLayout& layout)
{
    std::cout << "NAME    " << printedName(file.name) << '\n'
              << "KIND    " << kindName(kind) << " (" << layout.typeName << ", " << layout.size << " bytes)\n"
              << "SIZE    " << file.size << '\n'
              << "LAYOUT  " << fitText(layout, file.size) << std::endl;
}

nlohmann::json factsJson(const ObjectFile& file, Kind kind, const RecordLayout& layout)
{
    return {{"name", jsonText(file.name)}, {"name_quoted", printedName(file.name)},
            {"kind", kindName(kind)},      {"record", layout.typeName},
            {"size", file.size},           {"layout", fitText(layout, file.size)}};
}

void printAreas(const unsigned char* bytes, const RecordLayout& layout)
{
    TextTable areas({{"AREA", false}, {"OFFSET", true}, {"SIZE", true}, {"NONZERO", true}, {"FIRST BYTES", false}});
    for (const Area& area : layout.areas) {
        const unsigned char* start = bytes + area.offset;
        areas.addRow({area.name, std::to_string(area.offset), std::to_string(area.size),
                      std::to_string(nonZeroBytes(start, area.size)),
                      hexBytes(start, std::min(area.size, firstBytes))});
    }
    std::cout << '\n';
    areas.print(std::cout);
}

nlohmann::json areasJson(const unsigned char* bytes, const RecordLayout& layout)
{
    nlohmann::json areas = nlohmann::json::array();
    for (const Area& area : layout.areas) {
        const unsigned char* start = bytes + area.offset;
        areas.push_back({{"name", area.name},
                         {"offset", area.offset},
                         {"size", area.size},
                         {"nonzero", nonZeroBytes(start, area.size)},
                         {"first", hexBytes(start, std::min(area.size, firstBytes))}});
    }
    return areas;
}

} // namespace

std::vector<std::string> namesMeant(const std::string& argument)
{
    std::vector<std::string> names;
    if (isEntryName(argument)) {
        names.push_back(argument);
    }
    std::string spelled;
    if (nameFromPrinted(argument, spelled) && spelled != argument && isEntryName(spelled)) {
        names.push_back(spelled);
    }
    return names;
}

int showObject(const std::vector<std::string>& names, bool json, bool hex)
{
    ObjectFolder folder;
    std::string reason;
    std::string trueName;
    if (!folder.open(sharedFolderPath(), reason) || !findEntry(folder, names, trueName, reason)) {
        if (!reason.empty()) {
            std::cerr << "okr-shm: cannot read the shared folder " << sharedFolderPath() << ": " << reason << std::endl;
        } else {
            std::cerr << "okr-shm: no shared object " << printedName(names.back()) << std::endl;
        }
        return 1;
    }
    if (!isOpenableName(trueName)) {
        std::cerr << "okr-shm: cannot open " << printedName(trueName) << ": no path of this system reaches that name"
                  << std::endl;
        return 1;
    }
    // A leftover of an earlier clean holds the record of the name it had, as list says.
    const Kind kind = kindOf(isSetAsideName(trueName) ? setAsideFrom(trueName) : trueName);
    const RecordLayout* layout = recordLayout(kind);
    if (layout == nullptr) {
        std::cerr << "okr-shm: " << printedName(trueName) << " holds no record of this product (okr-sync, okr-info-N)"
                  << std::endl;
        return 1;
    }
    // A copy read through one handle, never a mapping: the object may change
    // or shrink while it is read, and a mapping would die of that.
    const ObjectFolder::Snapshot snapshot = folder.read(trueName, layout->size);
    switch (snapshot.outcome) {
    case ObjectFolder::Snapshot::read: break;
    case ObjectFolder::Snapshot::gone:
    case ObjectFolder::Snapshot::notFile:
        std::cerr << "okr-shm: no shared object " << printedName(trueName) << std::endl;
        return 1;
    case ObjectFolder::Snapshot::changed:
        std::cerr << "okr-shm: " << printedName(trueName) << " changed while it was read" << std::endl;
        return 1;
    case ObjectFolder::Snapshot::cannotOpen:
    case ObjectFolder::Snapshot::cannotRead:
        std::cerr << "okr-shm: cannot " << (snapshot.outcome == ObjectFolder::Snapshot::cannotOpen ? "open " : "read ")
                  << printedName(trueName) << ": " << snapshot.reason << std::endl;
        return 1;
    }
    const ObjectFile& file = snapshot.file;
    nlohmann::json facts = factsJson(file, kind, *layout);
    if (file.size != layout->size) {
        // Its bytes are not the record's: nothing is read.
        if (json) {
            printJson(facts, std::cout);
        } else if (!hex) {
            printFacts(file, kind, *layout);
        }
        std::cerr << "okr-shm: " << printedName(trueName) << " is " << file.size << " bytes, not the " << layout->size
                  << " of a " << layout->typeName << "; nothing read" << std::endl;
        return 1;
    }
    const unsigned char* bytes = snapshot.bytes.data();
    if (hex) {
        hexDump(bytes, layout->size, std::cout);
    } else if (json) {
        facts["areas"] = areasJson(bytes, *layout);
        printJson(facts, std::cout);
    } else {
        printFacts(file, kind, *layout);
        printAreas(bytes, *layout);
    }
    return 0;
}

} // namespace tool
} // namespace okr
