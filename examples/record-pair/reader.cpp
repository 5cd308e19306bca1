// Waits up to 10 s for the writer's record, then prints the latest reading.
// A missing name means "not there yet" and is waited for; any other failure
// (another size: another layout) will not go away and ends the reader.
//   record-reader NAME

#include "Telemetry.h"

#include <ipc/SharedRecord>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: record-reader NAME\n");
        return 2;
    }
    using Record = okr::ipc::SharedRecord<Telemetry>;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        try {
            // Read-only: get() is const Telemetry*, and the reader's end
            // leaves the name to the writer.
            const auto record = Record::openReadOnly(argv[1]);
            std::uint32_t sequence = 0;
            while ((sequence = __atomic_load_n(&record->sequence, __ATOMIC_ACQUIRE)) == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            std::printf("%s: layout %u, reading %u: %lld millidegrees Celsius\n", argv[1],
                        static_cast<unsigned>(record->layout), static_cast<unsigned>(sequence),
                        static_cast<long long>(__atomic_load_n(&record->milliCelsius, __ATOMIC_RELAXED)));
            return 0;
        } catch (const okr::ipc::SharedException& e) {
            const bool notYet = std::strcmp(e.what(), okr::ipc::recordError::nameMissing) == 0;
            if (!notYet || std::chrono::steady_clock::now() > deadline) {
                std::fprintf(stderr, "record-reader: %s\n", e.what());
                return 1;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}
