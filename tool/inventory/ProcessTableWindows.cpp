#include "tool/inventory/ProcessTable.h"

#include "tool/inventory/AccountNames.h"

#include <windows.h>

#include <psapi.h>
#include <sddl.h>

#include <vector>

namespace okr {
namespace tool {

namespace {

// The SID of the user a process runs as; empty when it cannot be read, with
// gone set when that is because the process has ended.
std::string processUserSid(DWORD pid, bool& gone)
{
    gone = false;
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) {
        gone = GetLastError() == ERROR_INVALID_PARAMETER;
        return std::string();
    }
    // A process that has ended stays listed while anyone holds a handle to it.
    DWORD exitCode = 0;
    if (GetExitCodeProcess(process, &exitCode) && exitCode != STILL_ACTIVE) {
        gone = true;
        CloseHandle(process);
        return std::string();
    }
    std::string sid;
    HANDLE token = nullptr;
    if (OpenProcessToken(process, TOKEN_QUERY, &token)) {
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<unsigned char> user(size);
        char* text = nullptr;
        if (size > 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
            ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text)) {
            sid = text;
            LocalFree(text);
        }
        CloseHandle(token);
    }
    CloseHandle(process);
    return sid;
}

std::vector<DWORD> processIds(bool& listed)
{
    std::vector<DWORD> ids(1024);
    for (;;) {
        DWORD bytes = 0;
        const auto room = static_cast<DWORD>(ids.size() * sizeof(DWORD));
        listed = EnumProcesses(ids.data(), room, &bytes) != 0;
        if (!listed) {
            return {};
        }
        if (bytes < room) {
            ids.resize(bytes / sizeof(DWORD));
            return ids;
        }
        ids.resize(ids.size() * 2);
    }
}

// Every process running now that the tool can see.
ProcessList liveProcesses()
{
    ProcessList list;
    bool listed = false;
    const std::vector<DWORD> ids = processIds(listed);
    list.complete = listed;
    AccountNames accounts;
    for (DWORD id : ids) {
        if (id == 0) {
            continue; // the idle process: no program, no user
        }
        bool gone = false;
        const std::string sid = processUserSid(id, gone);
        // An account without a name sends its processes to the "username"
        // environment variable, which cannot be read from outside.
        const std::string name = sid.empty() ? std::string() : accounts.nameOf(sid);
        if (name.empty()) {
            list.complete = list.complete && gone;
            continue;
        }
        list.processes.push_back({id, {id}, name});
    }
    return list;
}

} // namespace

// Which processes map a file cannot be read here; only whether any process
// holds it open; no descriptor is read, so no limit applies.
struct ObjectUsers::Scan {
    const ObjectFolder& folder;
    ProcessList live;
};

ObjectUsers::ObjectUsers(const ObjectFolder& folder, const ScanLimit&) : scan(new Scan{folder, liveProcesses()}) {}

ObjectUsers::~ObjectUsers() = default;

const ProcessList& ObjectUsers::live() const { return scan->live; }

std::size_t ObjectUsers::unread() const { return 0; }

ObjectUse ObjectUsers::of(const ObjectFile& file) const
{
    ObjectUse use;
    const Hold hold = scan->folder.hold(file.name);
    use.heldOpen = hold == Hold::held;
    use.complete = hold == Hold::free;
    return use;
}

} // namespace tool
} // namespace okr
