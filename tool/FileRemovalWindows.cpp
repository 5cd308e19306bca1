#include "FileRemoval.h"

#include <windows.h>

namespace okr {
namespace tool {

namespace {

std::string lastErrorText()
{
    const DWORD code = GetLastError();
    char* text = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length > 0 ? std::string(text, length) : "error " + std::to_string(code);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) {
        message.pop_back();
    }
    return message;
}

} // namespace

// Opening with no sharing at all fails while any other handle is open on the
// file (Boost keeps one for as long as a block is mapped).
Hold holdOf(const std::string& path)
{
    const HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return Hold::free;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION ? Hold::held : Hold::unknown;
}

Removal removeFile(const std::string& path)
{
    // Boost opens blocks with delete sharing, so a plain DeleteFile would
    // succeed under a process that still uses the block.
    const HANDLE file = CreateFileA(path.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_SHARING_VIOLATION) {
            return {Removal::held, std::string()};
        }
        return {Removal::failed, lastErrorText()};
    }
    CloseHandle(file);
    return {Removal::removed, std::string()};
}

Removal removeEmptyFolder(const std::string& path)
{
    if (RemoveDirectoryA(path.c_str())) {
        return {Removal::removed, std::string()};
    }
    return {Removal::failed, lastErrorText()};
}

} // namespace tool
} // namespace okr
