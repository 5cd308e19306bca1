#include "Commands.h"
#include "HexDump.h"
#include "JsonOutput.h"
#include "ObjectFile.h"
#include "PrintedName.h"
#include "RecordLayout.h"
#include "TextTable.h"
#include "host/SharedFolder.h"

#include "common/LogInfo"
#include "common/SharedSyncInfo"
#include "ipc/SharedException"
#include "ipc/SharedType"

#include <algorithm>
#include <iostream>

namespace okr {
namespace tool {

namespace {

constexpr int openingSide = 0; // read-only: looking never writes a record

// An opening-side object removes its block's name when destroyed, and looking
// must not remove anything: the one opened here lives until the process ends.
const void* keptOpen = nullptr;

template <class Record>
const unsigned char* openRecord(const std::string& name)
{
    auto* reader = new ipc::SharedType<Record>(name, openingSide);
    keptOpen = reader;
    reader->create();
    return reinterpret_cast<const unsigned char*>(reader->record());
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

int showObject(const std::string& name, bool json, bool hex)
{
    const std::string folder = host::sharedFolder();
    ObjectFile file;
    if (!inspectObjectFile(folder, name, file)) {
        std::cerr << "okr-shm: no shared object " << printedName(name) << std::endl;
        return 1;
    }
    const Kind kind = kindOf(name);
    const RecordLayout* layout = recordLayout(kind);
    if (layout == nullptr) {
        std::cerr << "okr-shm: " << printedName(name) << " holds no record of this product (okr-sync, okr-info-N)"
                  << std::endl;
        return 1;
    }
    nlohmann::json facts = factsJson(file, kind, *layout);
    if (file.size != layout->size) {
        // Its bytes are not the record's: nothing is read.
        if (json) {
            printJson(facts, std::cout);
        } else if (!hex) {
            printFacts(file, kind, *layout);
        }
        std::cerr << "okr-shm: " << printedName(name) << " is " << file.size << " bytes, not the " << layout->size
                  << " of a " << layout->typeName << "; nothing read" << std::endl;
        return 1;
    }

    const unsigned char* bytes = nullptr;
    try {
        bytes = kind == Kind::sync ? openRecord<SharedSyncInfo>(name) : openRecord<common::LogInfo>(name);
    } catch (const ipc::SharedException& e) {
        std::cerr << "okr-shm: cannot open " << printedName(name) << ": " << e.what() << std::endl;
        return 1;
    }
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
