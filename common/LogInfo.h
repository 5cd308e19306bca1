#ifndef OKR_COMMON_LOGINFO_H
#define OKR_COMMON_LOGINFO_H

#include <cstddef>

namespace okr {
namespace common {

// Every constructor below has an empty body on purpose: these records are
// built in place over blocks that other processes may already have filled,
// and building one must not change a byte. Byte-sized members keep the
// layout free of padding, which the other processes rely on.

class InfoSlot {
public:
    InfoSlot() {} // NOLINT(modernize-use-equals-default): "= default" would allow zero-filling

    unsigned char bytes[512];
};

class InfoEntry {
public:
    InfoEntry() {} // NOLINT(modernize-use-equals-default)

    unsigned char entryHead[18];
    InfoSlot entrySlot;
    unsigned char entryTail[6];
};

class LogInfo {
public:
    LogInfo() {} // NOLINT(modernize-use-equals-default)

    unsigned char leadArea[32];
    InfoSlot firstSlot;
    InfoSlot slots1[8];
    InfoEntry entries1[8];
    InfoSlot slots2[5];
    unsigned char midArea[64];
    InfoEntry entries2[8];
    unsigned char tailArea[120040];
};

static_assert(sizeof(InfoSlot) == 512 && alignof(InfoSlot) == 1, "shared layout: InfoSlot");
static_assert(sizeof(InfoEntry) == 536, "shared layout: InfoEntry is 536 bytes");
static_assert(offsetof(InfoEntry, entrySlot) == 18, "shared layout: entrySlot at byte 18");
static_assert(offsetof(InfoEntry, entryTail) == 530, "shared layout: entryTail at byte 530");
static_assert(sizeof(LogInfo) == 135880, "shared layout: LogInfo is 135880 bytes");
static_assert(offsetof(LogInfo, leadArea) == 0, "shared layout: leadArea");
static_assert(offsetof(LogInfo, firstSlot) == 32, "shared layout: firstSlot");
static_assert(offsetof(LogInfo, slots1) == 544, "shared layout: slots1");
static_assert(offsetof(LogInfo, entries1) == 4640, "shared layout: entries1");
static_assert(offsetof(LogInfo, slots2) == 8928, "shared layout: slots2");
static_assert(offsetof(LogInfo, midArea) == 11488, "shared layout: midArea");
static_assert(offsetof(LogInfo, entries2) == 11552, "shared layout: entries2");
static_assert(offsetof(LogInfo, tailArea) == 15840, "shared layout: tailArea");

} // namespace common
} // namespace okr

#endif
