// Each block is the file <folder>\<name> of Boost.Interprocess's shared
// folder, reached by the wide calls through a \\?\ path: the name is UTF-8
// and becomes the file okr-shm shows under it, and a name of up to 255
// UTF-16 units works whatever the folder's length. Every handle shares read,
// write and delete as Boost's do, so Boost users and okr-shm open it too.
//
// A handle stays open for as long as its view: the locks of RecordLocks.h
// live on it. A name is removed by renaming its file to a hidden name first
// and only then marking it for deletion, because a file waiting for its
// last handle to close keeps its name (and refuses to be opened) until then.

#define _CRT_RAND_S // rand_s, from the system's own random source

#include "FileIndexWindows.h"
#include "RecordBlockPlatform.h"
#include "RecordLocks.h"

#include <boost/interprocess/detail/shared_dir_helpers.hpp>
#include <boost/interprocess/errors.hpp>
#include <boost/interprocess/exceptions.hpp>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

namespace bip = boost::interprocess;

namespace okr {
namespace ipc {

class RecordBlockImpl {
public:
    RecordBlockImpl() = default;
    RecordBlockImpl(const RecordBlockImpl&) = delete;
    RecordBlockImpl& operator=(const RecordBlockImpl&) = delete;
    ~RecordBlockImpl()
    {
        if (view != nullptr) {
            UnmapViewOfFile(view);
        }
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file); // releases its locks
        }
    }

    HANDLE file = INVALID_HANDLE_VALUE;
    void* view = nullptr;
    std::wstring path;
    bool owning = false;
    DWORD creator = 0; // the process whose end removes an owned name
};

namespace {

using recordLocks::nameByte;
using recordLocks::ownerByte;
using recordLocks::userByte;
using recordLocks::windowsLockBase;

constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr std::size_t longestName = 255; // UTF-16 units of one path component

// How long a caller waits for what another process does in a moment: a lock
// taken for a removal, a file whose deletion is pending.
constexpr int briefTries = 200;
void pause() { Sleep(1); }

const char* failureText(DWORD error)
{
    switch (bip::error_info(static_cast<bip::native_error_t>(error)).get_error_code()) {
    case bip::not_found_error: return recordError::nameMissing;
    case bip::already_exists_error: return recordError::nameExists;
    case bip::security_error: return recordError::accessDenied;
    case bip::out_of_space_error: return recordError::noSpace;
    case bip::path_error: return recordError::refusedName;
    default: return recordError::cannotOpen;
    }
}

[[noreturn]] void failNative(DWORD error) { throw SharedException(failureText(error)); }

bool isMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// CreateFile reports a file whose deletion is pending as ERROR_ACCESS_DENIED;
// only the status of the failed call tells it from a refusal.
bool deletePending()
{
    using LastStatus = LONG(WINAPI*)();
    static const auto lastStatus = reinterpret_cast<LastStatus>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetLastNtStatus")));
    constexpr LONG statusDeletePending = static_cast<LONG>(0xC0000056);
    return lastStatus != nullptr && lastStatus() == statusDeletePending;
}

bool wideOf(const std::string& text, UINT codePage, DWORD flags, std::wstring& wide)
{
    wide.clear();
    if (text.empty()) {
        return true;
    }
    const int length = MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) {
        return false;
    }
    wide.resize(static_cast<std::size_t>(length));
    return MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), &wide[0], length) == length;
}

// The name as the file system gets it; the library takes names in UTF-8.
// Its length was checked by nameFitsFolder.
std::wstring wideName(const std::string& name)
{
    std::wstring wide;
    if (!wideOf(name, CP_UTF8, MB_ERR_INVALID_CHARS, wide)) {
        throw SharedException(recordError::refusedName);
    }
    return wide;
}

// Boost's shared folder, made as Boost makes it, in the \\?\ form: Boost
// gives it in the ANSI code page, with "/" among its separators, which a
// \\?\ path would take literally.
std::wstring folderPath()
{
    std::string narrow;
    try {
        bip::ipcdetail::create_shared_dir_and_clean_old(narrow);
    } catch (const bip::interprocess_exception& e) {
        failNative(static_cast<DWORD>(e.get_native_error()));
    }
    std::wstring wide;
    if (!wideOf(narrow, CP_ACP, 0, wide) || wide.empty()) {
        throw SharedException(recordError::cannotOpen);
    }
    for (wchar_t& c : wide) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    std::vector<wchar_t> full(MAX_PATH);
    DWORD length = 0;
    while ((length = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr)) >=
           full.size()) {
        full.resize(length);
    }
    if (length == 0) {
        failNative(GetLastError());
    }
    std::wstring absolute(full.data(), length);
    while (absolute.size() > 3 && absolute.back() == L'\\') {
        absolute.pop_back();
    }
    if (absolute.compare(0, 4, L"\\\\?\\") == 0) {
        return absolute;
    }
    return absolute.compare(0, 2, L"\\\\") == 0 ? L"\\\\?\\UNC" + absolute.substr(1) : L"\\\\?\\" + absolute;
}

std::wstring pathOf(const std::wstring& name) { return folderPath() + L"\\" + name; }

std::wstring hiddenName()
{
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring name = L".okr-new-";
    for (int word = 0; word < 3; ++word) {
        unsigned int value = 0;
        if (rand_s(&value) != 0) {
            throw SharedException(recordError::cannotOpen);
        }
        for (int nibble = 0; nibble < 8; ++nibble) {
            name += digits[(value >> (4 * nibble)) & 0xFu];
        }
    }
    return name;
}

OVERLAPPED lockPlace(std::uint64_t byte)
{
    const std::uint64_t at = windowsLockBase + byte;
    OVERLAPPED where = {};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    return where;
}

bool lockByte(HANDLE file, std::uint64_t byte, bool exclusive)
{
    OVERLAPPED where = lockPlace(byte);
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    return LockFileEx(file, flags, 0, 1, 0, &where) != 0;
}

void unlockByte(HANDLE file, std::uint64_t byte)
{
    OVERLAPPED where = lockPlace(byte);
    UnlockFileEx(file, 0, 1, 0, &where);
}

enum class Meaning { same, other, unknown };

// What path names now, compared with the file of handle ours. Both are
// files of the one shared folder, so of one volume; the file index alone
// tells them apart (Wine gives a volume serial of 0 for a handle opened
// under another name).
Meaning meaningOf(const std::wstring& path, HANDLE ours)
{
    const HANDLE named = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, shareAll, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return isMissing(error) || (error == ERROR_ACCESS_DENIED && deletePending()) ? Meaning::other
                                                                                     : Meaning::unknown;
    }
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    const bool known = fileIndex(ours, a) && fileIndex(named, b);
    CloseHandle(named);
    if (!known) {
        return Meaning::unknown;
    }
    return a == b ? Meaning::same : Meaning::other;
}

bool sameFile(HANDLE ours, const std::wstring& path) { return meaningOf(path, ours) == Meaning::same; }

// Marks the file for deletion once its last handle closes; it must have
// been opened with DELETE access.
bool deleteOnClose(HANDLE file)
{
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// Renames the handle's own file (never whatever has its name by then) to
// a hidden name of its folder, without replacing anything.
bool renameToHidden(HANDLE file, const std::wstring& path)
{
    // \\?\C:\... is the NT path \??\C:\..., which the rename takes.
    const std::wstring target = L"\\??\\" + path.substr(4, path.rfind(L'\\') + 1 - 4) + hiddenName();
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    target.copy(rename->FileName, target.size());
    return SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != 0;
}

// A read-only file cannot be marked for deletion; the attribute goes first.
// False when it cannot.
bool clearReadOnly(HANDLE file, DWORD& attributes)
{
    FILE_BASIC_INFO basic = {};
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
        return false;
    }
    attributes = basic.FileAttributes;
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return true;
    }
    FILE_BASIC_INFO changed = {}; // zero times and attributes are left as they are
    changed.FileAttributes = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (changed.FileAttributes == 0) {
        changed.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    }
    return SetFileInformationByHandle(file, FileBasicInfo, &changed, sizeof changed) != 0;
}

void restoreAttributes(HANDLE file, DWORD attributes)
{
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = attributes;
    SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
}

enum class Removal { removed, missing, another };

// Removes the name under its file's name lock, once the name is seen to
// mean the locked file; with expected, only while it means that file.
Removal removeName(const std::wstring& path, const std::uint64_t* expected)
{
    for (int attempt = 0; attempt < briefTries; ++attempt) {
        const HANDLE file =
            CreateFileW(path.c_str(), DELETE | FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, shareAll,
                        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (isMissing(error) || (error == ERROR_ACCESS_DENIED && deletePending())) {
                return Removal::missing; // a pending deletion has no name to take any more
            }
            failNative(error);
        }
        std::unique_ptr<void, decltype(&CloseHandle)> closer(file, &CloseHandle);
        std::uint64_t index = 0;
        if (expected != nullptr && (!fileIndex(file, index) || index != *expected)) {
            return Removal::another;
        }
        if (!lockByte(file, nameByte, true)) {
            pause(); // another remover of this file: it is done in a moment
            continue;
        }
        if (!sameFile(file, path)) {
            continue; // removed (and perhaps made anew) since it was opened
        }
        DWORD attributes = 0;
        if (!clearReadOnly(file, attributes)) {
            throw SharedException(recordError::accessDenied);
        }
        if (!renameToHidden(file, path)) {
            const DWORD error = GetLastError();
            restoreAttributes(file, attributes);
            failNative(error);
        }
        // Should the system refuse, the file stays under its hidden name,
        // which okr-shm lists as unpublished and cleans once unused.
        deleteOnClose(file);
        return Removal::removed;
    }
    throw SharedException(recordError::cannotOpen);
}

// The access RecordAccess gives a new file. Wine neither keeps the
// descriptor nor enforces it: it shows one made up from the file's Unix
// mode, and any process of the prefix opens the file.
class FileSecurity {
public:
    explicit FileSecurity(RecordAccess access)
    {
        attributes.nLength = sizeof attributes;
        attributes.bInheritHandle = FALSE;
        attributes.lpSecurityDescriptor = &descriptor;
        if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION)) {
            failNative(GetLastError());
        }
        if (access == RecordAccess::everyone) {
            // A null DACL, as Boost's set_unrestricted: every user.
            if (!SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE)) {
                failNative(GetLastError());
            }
            return;
        }
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            failNative(GetLastError());
        }
        user = tokenPart(token, TokenUser);
        if (access == RecordAccess::group) {
            group = tokenPart(token, TokenPrimaryGroup);
        }
        CloseHandle(token);
        const PSID userSid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
        const PSID groupSid =
            group.empty() ? nullptr : reinterpret_cast<TOKEN_PRIMARY_GROUP*>(group.data())->PrimaryGroup;
        auto size = static_cast<DWORD>(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(userSid));
        if (groupSid != nullptr) {
            size += static_cast<DWORD>(sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(groupSid));
        }
        acl.resize(size);
        auto* list = reinterpret_cast<ACL*>(acl.data());
        if (!InitializeAcl(list, size, ACL_REVISION) ||
            !AddAccessAllowedAce(list, ACL_REVISION, GENERIC_ALL, userSid) ||
            (groupSid != nullptr && !AddAccessAllowedAce(list, ACL_REVISION, GENERIC_ALL, groupSid)) ||
            !SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE) ||
            // Else the folder's inheritable entries (Users may read in
            // ProgramData) join these.
            !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
            failNative(GetLastError());
        }
    }
    FileSecurity(const FileSecurity&) = delete;
    FileSecurity& operator=(const FileSecurity&) = delete;

    SECURITY_ATTRIBUTES* get() { return &attributes; }

private:
    static std::vector<unsigned char> tokenPart(HANDLE token, TOKEN_INFORMATION_CLASS part)
    {
        DWORD size = 0;
        GetTokenInformation(token, part, nullptr, 0, &size);
        std::vector<unsigned char> buffer(size);
        if (size == 0 || !GetTokenInformation(token, part, buffer.data(), size, &size)) {
            const DWORD error = GetLastError();
            CloseHandle(token);
            failNative(error);
        }
        return buffer;
    }

    SECURITY_DESCRIPTOR descriptor = {};
    SECURITY_ATTRIBUTES attributes = {};
    std::vector<unsigned char> user;
    std::vector<unsigned char> group;
    std::vector<unsigned char> acl;
};

void mapView(RecordBlockImpl& block, std::size_t size, bool readOnly)
{
    const HANDLE mapping =
        CreateFileMappingW(block.file, nullptr, readOnly ? PAGE_READONLY : PAGE_READWRITE, 0, 0, nullptr);
    if (mapping == nullptr) {
        failNative(GetLastError());
    }
    block.view = MapViewOfFile(mapping, readOnly ? FILE_MAP_READ : FILE_MAP_WRITE, 0, 0, size);
    const DWORD error = GetLastError();
    CloseHandle(mapping); // the view keeps the mapping
    if (block.view == nullptr) {
        failNative(error);
    }
}

enum class Opened { ok, missing, again };

// One attempt at opening the existing block at path: its user lock taken,
// the name seen to mean it afterwards.
Opened openOnce(RecordBlockImpl& block, std::size_t size, bool readOnly)
{
    block.file = CreateFileW(block.path.c_str(), readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE, shareAll,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (block.file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (isMissing(error)) {
            return Opened::missing;
        }
        if (error == ERROR_ACCESS_DENIED && deletePending()) {
            return Opened::again;
        }
        failNative(error);
    }
    // Held exclusively only while someone decides the block is unused and
    // removes it: the name may mean nothing or another block next time.
    if (!lockByte(block.file, userByte, false) || !sameFile(block.file, block.path)) {
        return Opened::again;
    }
    LARGE_INTEGER actual = {};
    if (!GetFileSizeEx(block.file, &actual)) {
        failNative(GetLastError());
    }
    if (actual.QuadPart < 0 || static_cast<unsigned long long>(actual.QuadPart) != size) {
        throw SharedException(recordError::otherSize);
    }
    try {
        mapView(block, size, readOnly);
    } catch (const SharedException&) {
        if (!sameFile(block.file, block.path)) {
            return Opened::again; // removed meanwhile
        }
        throw;
    }
    return Opened::ok;
}

std::unique_ptr<RecordBlockImpl> openExisting(const std::string& name, std::size_t size, bool readOnly)
{
    const std::wstring path = pathOf(wideName(name));
    for (int attempt = 0; attempt < briefTries; ++attempt) {
        auto block = std::make_unique<RecordBlockImpl>();
        block->path = path;
        switch (openOnce(*block, size, readOnly)) {
        case Opened::ok: return block;
        case Opened::missing: return nullptr;
        case Opened::again: pause(); break;
        }
    }
    // Still being deleted, or held as unused: no name to open.
    return nullptr;
}

} // namespace

bool nameFitsFolder(const std::string& name) noexcept
{
    std::wstring wide;
    return wideOf(name, CP_UTF8, MB_ERR_INVALID_CHARS, wide) && wide.size() <= longestName;
}

void startPublishingAt(PublishWay /*way*/) noexcept {}

// Built under a hidden name; the rename without MOVEFILE_REPLACE_EXISTING
// never replaces an existing name, and works while the file is open and
// mapped, since every handle shares delete.
RecordBlockImpl* publishNewBlock(const std::string& name, std::size_t size, RecordBlock::Construct construct,
                                 bool owning, RecordAccess access)
{
    const std::wstring path = pathOf(wideName(name));
    const std::wstring hidden = path.substr(0, path.rfind(L'\\') + 1) + hiddenName();
    FileSecurity security(access);
    auto block = std::make_unique<RecordBlockImpl>();
    block->path = path;
    block->file = CreateFileW(hidden.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, shareAll, security.get(),
                              CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (block->file == INVALID_HANDLE_VALUE) {
        failNative(GetLastError());
    }
    // However the building ends without publishing, the hidden file goes.
    struct Discard {
        RecordBlockImpl* block;
        ~Discard()
        {
            if (block != nullptr) {
                if (block->view != nullptr) {
                    UnmapViewOfFile(block->view);
                    block->view = nullptr;
                }
                deleteOnClose(block->file);
            }
        }
    } discard{block.get()};
    LARGE_INTEGER end = {};
    end.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(block->file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(block->file)) {
        failNative(GetLastError());
    }
    mapView(*block, size, false);
    if (!lockByte(block->file, userByte, false) || (owning && !lockByte(block->file, ownerByte, true))) {
        throw SharedException(recordError::cannotOpen); // nobody else knows the hidden name
    }
    construct(block->view);
    if (!MoveFileExW(hidden.c_str(), path.c_str(), 0)) {
        const DWORD error = GetLastError();
        // A name whose deletion is pending is taken until it goes.
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS || error == ERROR_ACCESS_DENIED) {
            return nullptr;
        }
        failNative(error);
    }
    discard.block = nullptr;
    block->owning = owning;
    block->creator = GetCurrentProcessId();
    return block.release();
}

RecordBlockImpl* openBlock(const std::string& name, std::size_t size, bool readOnly)
{
    return openExisting(name, size, readOnly).release();
}

RecordBlockImpl* takeOverBlock(const std::string& name, std::size_t size)
{
    std::unique_ptr<RecordBlockImpl> block = openExisting(name, size, false);
    if (block == nullptr) {
        return nullptr;
    }
    if (!lockByte(block->file, ownerByte, true)) {
        throw SharedException(recordError::ownerAlive);
    }
    block->owning = true;
    block->creator = GetCurrentProcessId();
    return block.release();
}

namespace {

// The change notification on the folder of this thread's waiting open, set
// up by its first wait and ended with the open: it records every change
// from then on, so one that comes between an open that failed and the next
// wait is never lost. A plain handle, never an object with a destructor:
// under Wine, MinGW's runtime was seen to run a thread_local's destructor
// after it had freed the thread's storage, closing a handle read from freed
// memory and leaving the watch open.
thread_local HANDLE watch = INVALID_HANDLE_VALUE;

} // namespace

bool waitForName(const std::string& name, std::chrono::steady_clock::time_point deadline)
{
    if (watch == INVALID_HANDLE_VALUE) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        // The first wait sets the watch up and returns at once: the caller's
        // next open is watched.
        const std::wstring path = pathOf(wideName(name));
        watch = FindFirstChangeNotificationW(path.substr(0, path.rfind(L'\\')).c_str(), FALSE,
                                             FILE_NOTIFY_CHANGE_FILE_NAME);
        if (watch == INVALID_HANDLE_VALUE) {
            failNative(GetLastError());
        }
        return true;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const DWORD wait = left.count() <= 0 ? 0 : static_cast<DWORD>(std::min<long long>(left.count() + 1, 0x7FFFFFFF));
    if (WaitForSingleObject(watch, wait) != WAIT_OBJECT_0) {
        return false;
    }
    // Any change of the folder wakes the watch, not only the name's. Past
    // the deadline one that came earns the caller one more look, no more:
    // the next wait then ends, or a folder that never stops changing would
    // keep the caller far past its timeout.
    if (left.count() <= 0 || !FindNextChangeNotification(watch)) {
        endWaitForName();
    }
    return true;
}

void endWaitForName() noexcept
{
    if (watch != INVALID_HANDLE_VALUE) {
        FindCloseChangeNotification(watch);
        watch = INVALID_HANDLE_VALUE;
    }
}

void* blockAddress(const RecordBlockImpl& block) noexcept { return block.view; }

bool isCurrentBlock(const RecordBlockImpl& block) { return sameFile(block.file, block.path); }

// The hidden name that the file of handle ours has now, looked up among
// the folder's hidden names by its index; empty when none has it.
std::wstring hiddenPathOf(HANDLE ours, const std::wstring& path)
{
    const std::wstring folder = path.substr(0, path.rfind(L'\\') + 1);
    std::uint64_t index = 0;
    WIN32_FIND_DATAW found;
    const HANDLE search =
        FindFirstFileExW((folder + L".okr-new-*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (!fileIndex(ours, index) || search == INVALID_HANDLE_VALUE) {
        return std::wstring();
    }
    std::wstring hidden;
    do {
        if (meaningOf(folder + found.cFileName, ours) == Meaning::same) {
            hidden = folder + found.cFileName;
        }
    } while (hidden.empty() && FindNextFileW(search, &found));
    FindClose(search);
    return hidden;
}

// The system refuses to delete a file while anyone maps it: a removed
// block that others still map keeps its hidden name until the last of its
// users ends, who deletes it then. Whoever gets the exclusive user lock is
// that last one. The file is deleted through a handle opened by its hidden
// name: Wine would delete by the name a handle was opened under.
void deleteIfUnused(const RecordBlockImpl& block)
{
    if (meaningOf(block.path, block.file) != Meaning::other) {
        return;
    }
    unlockByte(block.file, userByte);
    if (!lockByte(block.file, userByte, true)) {
        return; // another user's end deletes it
    }
    const std::wstring hidden = hiddenPathOf(block.file, block.path);
    if (hidden.empty()) {
        return;
    }
    const HANDLE deleting = CreateFileW(hidden.c_str(), DELETE | FILE_READ_ATTRIBUTES, shareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (deleting == INVALID_HANDLE_VALUE) {
        return;
    }
    std::uint64_t ours = 0;
    std::uint64_t theirs = 0;
    if (fileIndex(block.file, ours) && fileIndex(deleting, theirs) && ours == theirs) {
        deleteOnClose(deleting);
    }
    CloseHandle(deleting);
}

void closeBlock(RecordBlockImpl* block) noexcept
{
    if (block == nullptr) {
        return;
    }
    std::unique_ptr<RecordBlockImpl> closing(block);
    UnmapViewOfFile(block->view);
    block->view = nullptr;
    std::uint64_t index = 0;
    // Only the owner's own block, and only in the process that made or took
    // it: someone may have removed the name and made another record since.
    if (block->owning && block->creator == GetCurrentProcessId() && fileIndex(block->file, index)) {
        try {
            removeName(block->path, &index);
        } catch (const SharedException&) {
            // The name stays; okr-shm shows it without an owner.
        }
    }
    deleteIfUnused(*block);
}

bool removeBlockName(const std::string& name)
{
    return removeName(pathOf(wideName(name)), nullptr) == Removal::removed;
}

} // namespace ipc
} // namespace okr
