#ifndef OKR_TOOL_HEXDUMP_H
#define OKR_TOOL_HEXDUMP_H

#include <cstddef>
#include <ostream>
#include <string>

namespace okr {
namespace tool {

// The canonical dump of `hexdump -C`: offset, 16 bytes in two groups of
// eight, the printable ones between bars; a line equal to the one before is
// folded into "*"; the last line is the length.
void hexDump(const unsigned char* bytes, std::size_t size, std::ostream& out);

// Up to count bytes as two-digit hex numbers separated by spaces.
std::string hexBytes(const unsigned char* bytes, std::size_t count);

} // namespace tool
} // namespace okr

#endif
