#ifndef OKR_COMMON_SHAREDSYNCINFO_H
#define OKR_COMMON_SHAREDSYNCINFO_H

#include <cstddef>

// The synchronisation record shared under "okr-sync". Its inner layout belongs
// to the product's other processes; this side only guarantees 16 bytes that
// start out zero on every creation.
class SharedSyncInfo {
public:
    SharedSyncInfo() : bytes{} {}

    unsigned char bytes[16];
};

static_assert(sizeof(SharedSyncInfo) == 16, "shared layout: SharedSyncInfo is 16 bytes");

#endif
