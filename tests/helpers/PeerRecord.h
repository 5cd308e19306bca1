#ifndef OKR_TESTS_PEERRECORD_H
#define OKR_TESTS_PEERRECORD_H

// The record that the tests and okr-test-record-peer share.

#include <cstdint>

namespace okr {
namespace testing {

constexpr std::uint32_t peerMagic = 0x5EC0DA7Au;

struct PeerRecord {
    // Large enough that its constructor takes a while: an opener that could
    // map a record before the constructor finished is caught in the middle.
    PeerRecord() : magic(peerMagic), visits(0), value(0)
    {
        for (std::uint8_t& byte : filler) {
            byte = 0xA5;
        }
    }
    std::uint32_t magic;
    std::uint32_t visits; // incremented once by every process that opens it
    std::uint32_t value;
    std::uint8_t filler[64 * 1024 - 12];
};
static_assert(sizeof(PeerRecord) == 64 * 1024, "the same size in every build");

// What the processes racing openOrCreate meet at before every round.
struct PeerGate {
    std::uint32_t arrived;
};

} // namespace testing
} // namespace okr

#endif
