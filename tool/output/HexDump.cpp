#include "tool/output/HexDump.h"

#include <cstdio>
#include <cstring>

namespace okr {
namespace tool {

namespace {

constexpr std::size_t lineBytes = 16;

std::string offsetText(std::size_t offset)
{
    char text[32];
    std::snprintf(text, sizeof text, "%08zx", offset);
    return text;
}

std::string dumpLine(const unsigned char* bytes, std::size_t offset, std::size_t count)
{
    std::string line = offsetText(offset) + " ";
    char hex[4];
    for (std::size_t i = 0; i < lineBytes; ++i) {
        if (i % 8 == 0) {
            line += ' ';
        }
        if (i < count) {
            std::snprintf(hex, sizeof hex, "%02x ", bytes[offset + i]);
            line += hex;
        } else {
            line += "   ";
        }
    }
    line += " |";
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char byte = bytes[offset + i];
        line += byte >= 0x20 && byte < 0x7f ? static_cast<char>(byte) : '.';
    }
    return line + "|";
}

} // namespace

void hexDump(const unsigned char* bytes, std::size_t size, std::ostream& out)
{
    bool folding = false;
    for (std::size_t offset = 0; offset < size; offset += lineBytes) {
        const std::size_t count = size - offset < lineBytes ? size - offset : lineBytes;
        const bool repeat =
            offset > 0 && count == lineBytes && std::memcmp(bytes + offset, bytes + offset - lineBytes, lineBytes) == 0;
        if (repeat) {
            if (!folding) {
                out << "*\n";
            }
            folding = true;
            continue;
        }
        folding = false;
        out << dumpLine(bytes, offset, count) << '\n';
    }
    if (size > 0) {
        out << offsetText(size) << '\n';
    }
    out.flush();
}

std::string hexBytes(const unsigned char* bytes, std::size_t count)
{
    std::string text;
    char hex[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(hex, sizeof hex, i == 0 ? "%02x" : " %02x", bytes[i]);
        text += hex;
    }
    return text;
}

} // namespace tool
} // namespace okr
