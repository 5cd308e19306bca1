#include "tool/inventory/RecordLayout.h"

#include "tool/folder/NameRules.h"
#include "tool/folder/UnpublishedName.h"

#include "common/LogInfo"
#include "common/SharedSyncInfo"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

namespace okr {
namespace tool {

namespace {

using common::InfoEntry;
using common::InfoSlot;
using common::LogInfo;

const std::string infoPrefix = "okr-info-";

// Exactly what infoRecordName writes after its prefix: an unsigned 32-bit
// checksum in decimal, without leading zeros.
bool isChecksum(const std::string& digits)
{
    if (digits.empty() || digits.size() > 10 || (digits.size() > 1 && digits[0] == '0')) {
        return false;
    }
    std::uint64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value <= std::numeric_limits<std::uint32_t>::max();
}

std::string indexed(const char* array, std::size_t index)
{
    return std::string(array) + "[" + std::to_string(index) + "]";
}

// An array member's areas, one per element; count and stride from its type.
void addSlots(std::vector<Area>& areas, const char* name, std::size_t offset, std::size_t arrayBytes)
{
    for (std::size_t i = 0; i < arrayBytes / sizeof(InfoSlot); ++i) {
        areas.push_back({indexed(name, i), offset + i * sizeof(InfoSlot), sizeof(InfoSlot)});
    }
}

void addEntries(std::vector<Area>& areas, const char* name, std::size_t offset, std::size_t arrayBytes)
{
    for (std::size_t i = 0; i < arrayBytes / sizeof(InfoEntry); ++i) {
        const std::size_t entry = offset + i * sizeof(InfoEntry);
        const std::string prefix = indexed(name, i);
        areas.push_back({prefix + ".head", entry + offsetof(InfoEntry, entryHead), sizeof(InfoEntry::entryHead)});
        areas.push_back({prefix + ".slot", entry + offsetof(InfoEntry, entrySlot), sizeof(InfoEntry::entrySlot)});
        areas.push_back({prefix + ".tail", entry + offsetof(InfoEntry, entryTail), sizeof(InfoEntry::entryTail)});
    }
}

RecordLayout logInfoLayout()
{
    RecordLayout layout{"LogInfo", sizeof(LogInfo), {}};
    std::vector<Area>& areas = layout.areas;
    areas.push_back({"leadArea", offsetof(LogInfo, leadArea), sizeof(LogInfo::leadArea)});
    areas.push_back({"firstSlot", offsetof(LogInfo, firstSlot), sizeof(LogInfo::firstSlot)});
    addSlots(areas, "slots1", offsetof(LogInfo, slots1), sizeof(LogInfo::slots1));
    addEntries(areas, "entries1", offsetof(LogInfo, entries1), sizeof(LogInfo::entries1));
    addSlots(areas, "slots2", offsetof(LogInfo, slots2), sizeof(LogInfo::slots2));
    areas.push_back({"midArea", offsetof(LogInfo, midArea), sizeof(LogInfo::midArea)});
    addEntries(areas, "entries2", offsetof(LogInfo, entries2), sizeof(LogInfo::entries2));
    areas.push_back({"tailArea", offsetof(LogInfo, tailArea), sizeof(LogInfo::tailArea)});
    return layout;
}

} // namespace

// As the file system compares names: on Windows "OKR-SYNC" is okr-sync.
Kind kindOf(const std::string& name)
{
    if (sameName(name, "okr-sync")) {
        return Kind::sync;
    }
    // The prefix in ASCII too: a letter that only upper-cases to one of it
    // would make its bytes longer than the prefix's.
    const bool asciiPrefix = name.size() >= infoPrefix.size() &&
                             std::all_of(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(infoPrefix.size()),
                                         [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (asciiPrefix && nameStartsWith(name, infoPrefix) && isChecksum(name.substr(infoPrefix.size()))) {
        return Kind::info;
    }
    return isUnpublishedName(name) ? Kind::unpublished : Kind::other;
}

std::string infoChecksum(const std::string& name) { return name.substr(infoPrefix.size()); }

const char* kindName(Kind kind)
{
    switch (kind) {
    case Kind::sync: return "sync";
    case Kind::info: return "info";
    case Kind::unpublished: return "unpublished";
    case Kind::other: break;
    }
    return "other";
}

const RecordLayout* recordLayout(Kind kind)
{
    static const RecordLayout sync{"SharedSyncInfo",
                                   sizeof(SharedSyncInfo),
                                   {{"bytes", offsetof(SharedSyncInfo, bytes), sizeof(SharedSyncInfo::bytes)}}};
    static const RecordLayout info = logInfoLayout();
    switch (kind) {
    case Kind::sync: return &sync;
    case Kind::info: return &info;
    case Kind::unpublished: // a SharedRecord<T> of a type the tool cannot know
    case Kind::other: break;
    }
    return nullptr;
}

const char* fitText(const RecordLayout& layout, std::uint64_t size)
{
    return size == layout.size ? "ok" : "wrong size";
}

} // namespace tool
} // namespace okr
