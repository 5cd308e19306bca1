// Boost.Interprocess keeps every named block as a file in its shared folder
// and asks for that folder through get_shared_dir. Boost's own version takes
// its boot stamp from places that do not follow the system log's newest boot
// record, and deletes the folders of other stamps that running processes may
// still use; this one composes the folder from the newest boot record and
// deletes nothing.

#include "BootStamp.h"

#include <boost/interprocess/detail/win32_api.hpp>
#include <boost/interprocess/errors.hpp>
#include <boost/interprocess/exceptions.hpp>

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace okr {
namespace ipc {

namespace {

// The decimal TimeGenerated of the newest boot record of the System log, or
// an empty string when the log cannot be read or holds none.
std::string readBootStamp()
{
    HANDLE log = OpenEventLogA(nullptr, "System");
    if (log == nullptr) {
        return std::string();
    }
    std::string stamp;
    std::vector<unsigned char> buffer(64 * 1024);
    for (;;) {
        DWORD got = 0;
        DWORD needed = 0;
        if (!ReadEventLogA(log, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ, 0, buffer.data(),
                           static_cast<DWORD>(buffer.size()), &got, &needed)) {
            if (GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed > buffer.size()) {
                buffer.resize(needed);
                continue;
            }
            break; // end of the log, or it cannot be read
        }
        std::uint32_t time = 0;
        const BootRecordScan scan = findBootRecord(buffer.data(), got, time);
        if (scan == BootRecordScan::found) {
            stamp = std::to_string(time);
        }
        if (scan != BootRecordScan::notFound) {
            break;
        }
    }
    CloseEventLog(log);
    return stamp;
}

const std::string& bootStamp()
{
    // Once per process: every block of this process lives in one folder.
    static const std::string stamp = readBootStamp();
    return stamp;
}

bool isFolder(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void createFolder(const std::string& path)
{
    if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        throw boost::interprocess::interprocess_exception(
            boost::interprocess::error_info(static_cast<int>(GetLastError())));
    }
}

} // namespace

} // namespace ipc
} // namespace okr

namespace boost {
namespace interprocess {
namespace ipcdetail {

void get_shared_dir(std::string& shared_dir)
{
    std::string registryRoot;
    winapi::get_shared_documents_folder(registryRoot);
    const char* tmp = std::getenv("TMP");
    shared_dir = okr::ipc::composeSharedFolder(registryRoot, okr::ipc::isFolder(registryRoot),
                                               tmp != nullptr ? tmp : "", okr::ipc::bootStamp());
    if (shared_dir.empty()) {
        throw interprocess_exception(error_info(system_error_code()));
    }
    // Boost leaves creating the folder to whoever provides it.
    okr::ipc::createFolder(shared_dir.substr(0, shared_dir.rfind('/')));
    okr::ipc::createFolder(shared_dir);
}

} // namespace ipcdetail
} // namespace interprocess
} // namespace boost
