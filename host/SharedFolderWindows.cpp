#include "FileNameBytes.h"
#include "SharedFolder.h"

#include "ipc/BoostSharedDir.h"

#include <boost/interprocess/detail/shared_dir_helpers.hpp>

#include <windows.h>

#include <algorithm>
#include <limits>

namespace okr {
namespace host {

// Asks Boost's own folder routine, the one that also places the blocks, so
// the printed folder is always the one that holds them.
std::string sharedFolder()
{
    std::string folder;
    boost::interprocess::ipcdetail::get_shared_dir(folder);
    return folder;
}

std::string sharedFolderWithoutCreating() { return ipc::composedSharedDir(); }

namespace {

// wxNO_LEN (a terminated string, terminator included) is -1 to the
// platform; a length it cannot take is refused rather than cut.
bool platformLength(size_t length, int& platform)
{
    platform = length == wxNO_LEN ? -1 : static_cast<int>(length);
    return length == wxNO_LEN || length <= static_cast<size_t>(std::numeric_limits<int>::max());
}

int platformRoom(const void* dst, size_t dstLen)
{
    return dst == nullptr ? 0 : static_cast<int>(std::min<size_t>(dstLen, std::numeric_limits<int>::max()));
}

// The system's ANSI code page as the file calls with an "A" (FindFirstFileA,
// FindNextFileA) use it: a character without a match comes back best-fit
// or as the code page's default character ("okr-Ω" as "okr-O"), never as a
// failure, because that is the name other processes see.
class AnsiCodePage : public wxMBConv {
public:
    size_t ToWChar(wchar_t* dst, size_t dstLen, const char* src, size_t srcLen) const override
    {
        if (srcLen == 0) {
            return 0; // the platform takes no empty input
        }
        int length = 0;
        if (!platformLength(srcLen, length)) {
            return wxCONV_FAILED;
        }
        const int converted = MultiByteToWideChar(CP_ACP, 0, src, length, dst, platformRoom(dst, dstLen));
        return converted > 0 ? static_cast<size_t>(converted) : wxCONV_FAILED;
    }

    size_t FromWChar(char* dst, size_t dstLen, const wchar_t* src, size_t srcLen) const override
    {
        if (srcLen == 0) {
            return 0; // the platform takes no empty input
        }
        int length = 0;
        if (!platformLength(srcLen, length)) {
            return wxCONV_FAILED;
        }
        const int converted =
            WideCharToMultiByte(CP_ACP, 0, src, length, dst, platformRoom(dst, dstLen), nullptr, nullptr);
        return converted > 0 ? static_cast<size_t>(converted) : wxCONV_FAILED;
    }

    size_t GetMaxCharLen() const override
    {
        CPINFO info;
        return GetCPInfo(CP_ACP, &info) ? info.MaxCharSize : 2;
    }

    wxMBConv* Clone() const override { return new AnsiCodePage; }
};

} // namespace

wxMBConv& fileNameBytes()
{
    static AnsiCodePage ansi;
    return ansi;
}

} // namespace host
} // namespace okr
