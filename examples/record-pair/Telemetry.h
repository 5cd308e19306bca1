// The record the writer and the reader share. Fixed-width fields and an
// explicit layout: a 32-bit and a 64-bit process see the same bytes.
#ifndef TELEMETRY_H
#define TELEMETRY_H

#include <cstdint>

struct Telemetry {
    std::uint32_t layout = 1;   // raised whenever the fields change
    std::uint32_t sequence = 0; // how many readings the writer published
    std::int64_t milliCelsius = 0;
};
static_assert(sizeof(Telemetry) == 16, "the same layout in every process, 32- or 64-bit");

#endif
