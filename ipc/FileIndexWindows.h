#ifndef OKR_IPC_FILEINDEXWINDOWS_H
#define OKR_IPC_FILEINDEXWINDOWS_H

#include <windows.h>

#include <cstdint>

namespace okr {
namespace ipc {

// Which file of its volume a handle is on: the shared folder is one volume,
// so this alone tells its files apart.
inline bool fileIndex(HANDLE file, std::uint64_t& index)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(file, &info)) {
        return false;
    }
    index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    return true;
}

} // namespace ipc
} // namespace okr

#endif
