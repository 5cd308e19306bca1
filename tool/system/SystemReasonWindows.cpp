#include "tool/system/SystemReason.h"

#include "tool/system/WideText.h"

#include <windows.h>

namespace okr {
namespace tool {

std::string systemReason(std::int64_t code)
{
    const auto error = static_cast<DWORD>(code);
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::u16string wide(text, text + length);
    LocalFree(text);
    while (!wide.empty() && (wide.back() == u'\n' || wide.back() == u'\r' || wide.back() == u'.')) {
        wide.pop_back();
    }
    return wide.empty() ? "error " + std::to_string(error) : wtf8FromUtf16(wide);
}

} // namespace tool
} // namespace okr
