#include "tool/inventory/ProcessTable.h"

#include <cstdlib>

namespace okr {
namespace tool {

bool ScanLimit::reached() const { return std::chrono::steady_clock::now() >= deadline || (stop && stop()); }

ScanLimit ScanLimit::fromNow()
{
    double seconds = defaultSeconds;
    if (const char* text = std::getenv("OKR_SHM_SCAN_SECONDS")) {
        char* end = nullptr;
        const double asked = std::strtod(text, &end);
        if (end != text && *end == '\0' && asked >= 0 && asked < 1e6) {
            seconds = asked;
        }
    }
    ScanLimit limit;
    limit.deadline = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                            std::chrono::duration<double>(seconds));
    return limit;
}

} // namespace tool
} // namespace okr
