// Boost.Interprocess keeps every named block as a file in its shared folder
// and asks for that folder through get_shared_dir. Boost's own version takes
// its boot stamp from places that do not follow the system log's newest boot
// record, and deletes the folders of other stamps that running processes may
// still use; this one composes the folder from the newest boot record and
// deletes nothing.

#include "BoostSharedDir.h"
#include "BootStamp.h"

#include <boost/interprocess/detail/win32_api.hpp>
#include <boost/interprocess/errors.hpp>
#include <boost/interprocess/exceptions.hpp>

#include <windows.h>

#include <cstddef>
#include <cstdlib>
#include <string>

namespace okr {
namespace ipc {

namespace {

static_assert(sizeof(EventLogRecordHeader) == sizeof(EVENTLOGRECORD), "record layout");
static_assert(offsetof(EventLogRecordHeader, timeGenerated) == offsetof(EVENTLOGRECORD, TimeGenerated),
              "record layout");
static_assert(offsetof(EventLogRecordHeader, eventId) == offsetof(EVENTLOGRECORD, EventID), "record layout");
static_assert(offsetof(EventLogRecordHeader, eventType) == offsetof(EVENTLOGRECORD, EventType), "record layout");
static_assert(offsetof(EventLogRecordHeader, dataOffset) == offsetof(EVENTLOGRECORD, DataOffset), "record layout");

// The System log of this computer, newest record first.
class SystemLogReader final : public EventLogReader {
public:
    SystemLogReader() : log(OpenEventLogA(nullptr, "System")) {}
    ~SystemLogReader() override
    {
        if (log != nullptr) {
            CloseEventLog(log);
        }
    }
    SystemLogReader(const SystemLogReader&) = delete;
    SystemLogReader& operator=(const SystemLogReader&) = delete;

    Outcome read(unsigned char* buffer, std::size_t size, std::size_t& got, std::size_t& needed) override
    {
        DWORD read = 0;
        DWORD required = 0;
        if (log != nullptr && ReadEventLogA(log, EVENTLOG_SEQUENTIAL_READ | EVENTLOG_BACKWARDS_READ, 0, buffer,
                                            static_cast<DWORD>(size), &read, &required)) {
            got = read;
            return Outcome::read;
        }
        if (log != nullptr && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
            needed = required;
            return Outcome::bufferTooSmall;
        }
        return Outcome::ended;
    }

private:
    HANDLE log;
};

const std::string& bootStamp()
{
    // Once per process: every block of this process lives in one folder.
    static const std::string stamp = [] {
        SystemLogReader systemLog;
        return readBootStamp(systemLog);
    }();
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

std::string composedSharedDir()
{
    std::string registryRoot;
    boost::interprocess::winapi::get_shared_documents_folder(registryRoot);
    const char* tmp = std::getenv("TMP");
    return composeSharedFolder(registryRoot, isFolder(registryRoot), tmp != nullptr ? tmp : "", bootStamp());
}

} // namespace ipc
} // namespace okr

namespace boost {
namespace interprocess {
namespace ipcdetail {

void get_shared_dir(std::string& shared_dir)
{
    shared_dir = okr::ipc::composedSharedDir();
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
