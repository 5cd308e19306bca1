#include "tool/output/OutputChannel.h"

#include "tool/system/SystemReason.h"

#include <windows.h>

#include <algorithm>

namespace okr {
namespace tool {

namespace {

// The length of data's longest prefix that ends on a whole UTF-8 sequence.
std::size_t wholeSequences(const char* data, std::size_t size)
{
    for (std::size_t back = 1; back <= std::min<std::size_t>(size, 3); ++back) {
        const auto byte = static_cast<unsigned char>(data[size - back]);
        if ((byte & 0xC0) == 0x80) {
            continue; // a continuation byte: look further back
        }
        const std::size_t needed = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return needed > back ? size - back : size;
    }
    return size;
}

// Writes UTF-8 text to a console as UTF-16; a byte that is not UTF-8 shows
// as U+FFFD.
bool writeConsole(HANDLE console, const std::string& text, DWORD& error)
{
    if (text.empty()) {
        return true;
    }
    std::wstring wide(text.size(), L'\0');
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                           static_cast<int>(wide.size()));
    // Consoles take a limited amount per call.
    constexpr int piece = 8192;
    for (int at = 0; at < length;) {
        DWORD done = 0;
        if (!WriteConsoleW(console, wide.data() + at, static_cast<DWORD>(std::min(piece, length - at)), &done,
                           nullptr) ||
            done == 0) {
            error = GetLastError();
            return false;
        }
        at += static_cast<int>(done);
    }
    return true;
}

} // namespace

struct OutputChannel::Device {
    HANDLE handle;
    bool console;
    std::string carry; // the start of a UTF-8 sequence a console write cut
};

OutputChannel::OutputChannel(Which which) : device(new Device{nullptr, false, {}})
{
    device->handle = GetStdHandle(which == standardOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    // NUL is a character device too, but no console.
    device->console = device->handle != nullptr && device->handle != INVALID_HANDLE_VALUE &&
                      GetFileType(device->handle) == FILE_TYPE_CHAR && GetConsoleMode(device->handle, &mode);
}

OutputChannel::~OutputChannel() { delete device; }

bool OutputChannel::write(const char* data, std::size_t size)
{
    if (device->console) {
        std::string text = device->carry + std::string(data, size);
        const std::size_t whole = wholeSequences(text.data(), text.size());
        device->carry = text.substr(whole);
        text.resize(whole);
        DWORD error = 0;
        if (!writeConsole(device->handle, text, error)) {
            why = systemReason(error);
            return false;
        }
        return true;
    }
    while (size > 0) {
        DWORD done = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 20));
        if (!WriteFile(device->handle, data, chunk, &done, nullptr) || done == 0) {
            const DWORD error = GetLastError();
            gone = error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA;
            why = systemReason(error);
            return false;
        }
        data += done;
        size -= done;
    }
    return true;
}

bool OutputChannel::close()
{
    DWORD error = 0;
    if (device->console && !writeConsole(device->handle, device->carry, error)) {
        why = systemReason(error);
        return false;
    }
    device->carry.clear();
    return true;
}

} // namespace tool
} // namespace okr
