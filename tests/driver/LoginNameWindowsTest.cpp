#include "LoginName.h"
#include "host/PlatformText.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <ostream>
#include <string>

namespace {

// Wine answers GetUserNameA from its variable WINEUSERNAME, so a test can
// hand the process any login name, also one that does not fit.
struct LoginCase {
    const char* label;
    std::wstring login;    // empty: the variable is unset
    std::wstring username; // the "username" variable, empty: unset
    std::string utf8;      // what the name hashes
};

void PrintTo(const LoginCase& login, std::ostream* out) { *out << login.label; }

class VariableOverride {
public:
    VariableOverride(const wchar_t* variable, const std::wstring& value) : name(variable)
    {
        wchar_t old[1024];
        const DWORD length = GetEnvironmentVariableW(name, old, 1024);
        had = length > 0 && length < 1024;
        saved.assign(old, had ? length : 0);
        SetEnvironmentVariableW(name, value.empty() ? nullptr : value.c_str());
    }
    ~VariableOverride() { SetEnvironmentVariableW(name, had ? saved.c_str() : nullptr); }
    VariableOverride(const VariableOverride&) = delete;
    VariableOverride& operator=(const VariableOverride&) = delete;

private:
    const wchar_t* name;
    bool had = false;
    std::wstring saved;
};

class LoginNameUnderWine : public ::testing::TestWithParam<LoginCase> {};

TEST_P(LoginNameUnderWine, IsTheAnsiNameReencodedAsUtf8)
{
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") == nullptr) {
        GTEST_SKIP() << "only Wine lets a test choose the login name";
    }
    ASSERT_EQ(1252u, GetACP()) << "the expected bytes are code page 1252's";
    const VariableOverride login(L"WINEUSERNAME", GetParam().login);
    const VariableOverride username(L"username", GetParam().username);
    EXPECT_EQ(GetParam().utf8, okr::driver::loginNameUtf8());

    // okr-shm knows a process's user by the account's true name and must
    // hash it as the process did.
    const std::wstring& given = GetParam().login;
    if (!given.empty() && given.size() < 256) {
        std::string trueName(given.size() * 3, '\0');
        trueName.resize(static_cast<std::size_t>(
            WideCharToMultiByte(CP_UTF8, 0, given.data(), static_cast<int>(given.size()), &trueName[0],
                                static_cast<int>(trueName.size()), nullptr, nullptr)));
        EXPECT_EQ(GetParam().utf8, okr::host::utf8AsNarrowCallsGiveIt(trueName));
    }
}

// GetUserNameA has room for 256 characters, its terminator included; so
// has the fallback on "username".
INSTANTIATE_TEST_SUITE_P(
    Names, LoginNameUnderWine,
    ::testing::Values(LoginCase{"BestFit", L"\u03a9mega", L"", "Omega"},
                      LoginCase{"NoMatch", L"\u0418\u0432\u0430\u043d", L"", "????"},
                      LoginCase{"InCodePage", L"j\u00fcrgen", L"", "j\xc3\xbcrgen"},
                      LoginCase{"FillsTheRoom", std::wstring(255, L'u'), L"", std::string(255, 'u')},
                      LoginCase{"TooLongForTheRoom", std::wstring(256, L'u'), L"\u03a9fallback", "Ofallback"},
                      LoginCase{"Unknown", L"", L"fallback", "fallback"},
                      LoginCase{"NeitherFits", std::wstring(256, L'u'), std::wstring(256, L'v'), ""}),
    [](const ::testing::TestParamInfo<LoginCase>& param) { return std::string(param.param.label); });

} // namespace
