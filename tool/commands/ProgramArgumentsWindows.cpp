#include "tool/commands/ProgramArguments.h"

#include "tool/system/WideText.h"

#include <windows.h>

#include <shellapi.h>

namespace okr {
namespace tool {

// argv holds the ANSI code page's best fit ("okr-???"); the wide command
// line holds what was typed.
std::vector<std::string> programArguments(int argc, char** argv)
{
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        return {argv, argv + argc};
    }
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
        const wchar_t* argument = wide[i];
        arguments.push_back(wtf8FromUtf16(std::u16string(argument, argument + wcslen(argument))));
    }
    LocalFree(wide);
    return arguments;
}

} // namespace tool
} // namespace okr
