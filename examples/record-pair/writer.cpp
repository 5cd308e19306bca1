// Publishes COUNT readings, one every 100 ms, in a record it creates; the
// record's name goes when the writer ends.
//   record-writer NAME [COUNT]

#include "Telemetry.h"

#include <ipc/SharedRecord>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: record-writer NAME [COUNT]\n");
        return 2;
    }
    const int count = argc > 2 ? std::atoi(argv[2]) : 50;
    try {
        // Fails if the name exists: two writers of one record are a mistake.
        auto record = okr::ipc::SharedRecord<Telemetry>::create(argv[1]);
        std::printf("publishing %s\n", argv[1]);
        std::fflush(stdout);
        for (int i = 1; i <= count; ++i) {
            // The reading first, then the sequence that announces it: a reader
            // that loads the sequence (acquire) sees at least this reading.
            __atomic_store_n(&record->milliCelsius, std::int64_t{20000} + i, __ATOMIC_RELAXED);
            __atomic_store_n(&record->sequence, static_cast<std::uint32_t>(i), __ATOMIC_RELEASE);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    } catch (const okr::ipc::SharedException& e) {
        std::fprintf(stderr, "record-writer: %s\n", e.what());
        return 1;
    }
    return 0;
}
