#include "tool/folder/ObjectFolderWindows.h"

#include "tool/folder/NameRules.h"
#include "tool/system/WideText.h"

#include <aclapi.h>
#include <sddl.h>

#include <utility>
#include <vector>

namespace okr {
namespace tool {

namespace {

constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring wideOf(const std::string& text)
{
    std::u16string utf16;
    utf16FromWtf8(text, utf16);
    return std::wstring(utf16.begin(), utf16.end());
}

std::string narrowOf(const wchar_t* text)
{
    const std::wstring wide(text);
    return wtf8FromUtf16(std::u16string(wide.begin(), wide.end()));
}

std::time_t unixTime(const FILETIME& time)
{
    // FILETIME counts 100 ns steps from 1601-01-01.
    constexpr std::uint64_t unixEpoch = 116444736000000000ULL;
    const std::uint64_t ticks = (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    return static_cast<std::time_t>((ticks - unixEpoch) / 10000000ULL);
}

// Where the handle leads, as its volume's file system names it (without the
// volume): what the system reached, past any link, whatever path was given.
// GetFinalPathNameByHandleW would give the same but fails under Wine past
// MAX_PATH.
std::wstring pathOnVolume(HANDLE handle)
{
    std::vector<unsigned char> buffer(sizeof(FILE_NAME_INFO) + 32768 * sizeof(wchar_t));
    if (!GetFileInformationByHandleEx(handle, FileNameInfo, buffer.data(), static_cast<DWORD>(buffer.size()))) {
        return std::wstring();
    }
    const auto* name = reinterpret_cast<const FILE_NAME_INFO*>(buffer.data());
    return std::wstring(name->FileName, name->FileNameLength / sizeof(wchar_t));
}

// The path in the \\?\ form: no length limit, and no name in it changed on
// its way to the file system (a plain path loses a name's trailing dots and
// spaces, and reads a device name such as CON as the device). Empty when the
// system cannot make it absolute.
std::wstring extendedPath(const std::wstring& path)
{
    const std::wstring prefix = L"\\\\?\\";
    if (path.compare(0, prefix.size(), prefix) == 0) {
        return path;
    }
    std::vector<wchar_t> full(MAX_PATH);
    for (;;) {
        const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) {
            return std::wstring();
        }
        if (length < full.size()) {
            const std::wstring absolute(full.data(), length);
            // \\server\share\folder is \\?\UNC\server\share\folder.
            return absolute.compare(0, 2, L"\\\\") == 0 ? prefix + L"UNC" + absolute.substr(1) : prefix + absolute;
        }
        full.resize(length);
    }
}

std::wstring joined(const std::wstring& folder, const std::wstring& name)
{
    return !folder.empty() && folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
}

// Paths compared as the file system compares names: without regard to case.
bool samePath(const std::wstring& a, const std::wstring& b)
{
    return !a.empty() && CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::string ownerSid(HANDLE handle)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
        return std::string();
    }
    std::string sid;
    char* text = nullptr;
    if (owner != nullptr && ConvertSidToStringSidA(owner, &text)) {
        sid = text;
        LocalFree(text);
    }
    LocalFree(descriptor);
    return sid;
}

ObjectFile objectFileOf(const std::string& name, const BY_HANDLE_FILE_INFORMATION& info)
{
    ObjectFile file;
    file.name = name;
    file.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    file.modified = unixTime(info.ftLastWriteTime);
    file.device = info.dwVolumeSerialNumber;
    file.inode = fileIndex(info);
    return file;
}

// Whether the handle, whose file has the facts info and lies at resolved on
// the folder's volume, is the entry name of folder itself. Wine names every
// file without the dots and spaces its name ends in; a handle that resolves
// so is that entry only when the entry of the shorter name, if there is one,
// is another file (a link "okr-a." to "okr-a" is not the entry "okr-a.").
bool isEntryOf(const ObjectFolder::Native& folder, const std::wstring& name, const std::wstring& resolved,
               const BY_HANDLE_FILE_INFORMATION& info)
{
    if (samePath(resolved, joined(folder.finalPath, name))) {
        return true;
    }
    const std::size_t kept = name.find_last_not_of(L". ") + 1; // npos + 1 is 0: nothing but dots and spaces
    if (kept == name.size() || !samePath(resolved, joined(folder.finalPath, name.substr(0, kept)))) {
        return false;
    }
    const Handle shorter(CreateFileW(joined(folder.wide, name.substr(0, kept)).c_str(), FILE_READ_ATTRIBUTES, shareAll,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                     nullptr));
    BY_HANDLE_FILE_INFORMATION other;
    if (!shorter.valid()) {
        return isMissing(GetLastError());
    }
    return GetFileInformationByHandle(shorter.get(), &other) &&
           (other.dwVolumeSerialNumber != info.dwVolumeSerialNumber || fileIndex(other) != fileIndex(info));
}

bool sameState(const BY_HANDLE_FILE_INFORMATION& before, const BY_HANDLE_FILE_INFORMATION& after)
{
    return before.nFileSizeHigh == after.nFileSizeHigh && before.nFileSizeLow == after.nFileSizeLow &&
           CompareFileTime(&before.ftLastWriteTime, &after.ftLastWriteTime) == 0;
}

} // namespace

HANDLE openEntry(const ObjectFolder::Native& folder, const std::string& name, DWORD access, DWORD share, DWORD flags)
{
    if (!isOpenableName(name)) {
        SetLastError(ERROR_INVALID_NAME); // a path made of it would lead elsewhere
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(joined(folder.wide, wideOf(name)).c_str(), access, share, nullptr, OPEN_EXISTING,
                       flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

EntryType typeOnHandle(const ObjectFolder::Native& folder, const std::string& name, HANDLE handle,
                       BY_HANDLE_FILE_INFORMATION& info)
{
    if (!GetFileInformationByHandle(handle, &info)) {
        return EntryType::other;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || info.dwVolumeSerialNumber != folder.device ||
        !isEntryOf(folder, wideOf(name), pathOnVolume(handle), info)) {
        return EntryType::link;
    }
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryType::folder : EntryType::file;
}

std::uint64_t fileIndex(const BY_HANDLE_FILE_INFORMATION& info)
{
    return (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
}

bool isMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

ObjectFolder::ObjectFolder() : state(new Native) {}

ObjectFolder::~ObjectFolder() = default;

ObjectFolder::ObjectFolder(ObjectFolder&& other) noexcept : state(std::move(other.state)) {}

ObjectFolder& ObjectFolder::operator=(ObjectFolder&& other) noexcept
{
    std::swap(state, other.state);
    return *this;
}

// The folder must be a folder, no reparse point, and resolve to its parent's
// resolved path and its own name: a link that Wine does not mark is found so.
// It is opened, and every entry in it later, by its \\?\ path.
bool ObjectFolder::open(const std::string& path, std::string& reason)
{
    std::string trimmed = path;
    while (trimmed.size() > 3 && (trimmed.back() == '/' || trimmed.back() == '\\')) {
        trimmed.pop_back();
    }
    std::u16string utf16;
    if (!utf16FromWtf8(trimmed, utf16)) {
        reason = "not a name Windows can have";
        return false;
    }
    std::wstring wide = extendedPath(std::wstring(utf16.begin(), utf16.end()));
    if (wide.empty()) {
        reason = systemReason(GetLastError());
        return false;
    }
    if (wide.size() > 7 && wide.back() == L'\\') {
        wide.pop_back(); // GetFullPathNameW keeps the separator a path ends in; a volume's root keeps its own
    }
    const Handle folder(CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, shareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!folder.valid() || !GetFileInformationByHandle(folder.get(), &info)) {
        reason = systemReason(GetLastError());
        return false;
    }
    const std::wstring resolved = pathOnVolume(folder.get());
    const std::size_t separator = wide.find_last_of(L'\\');
    const bool hasParent = separator + 1 < wide.size() && wide[separator - 1] != L'?';
    std::wstring parentResolved;
    if (hasParent) {
        std::wstring parent = wide.substr(0, separator);
        if (parent.back() == L':') {
            parent += L'\\'; // a volume's root
        }
        const Handle above(CreateFileW(parent.c_str(), FILE_READ_ATTRIBUTES, shareAll, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        BY_HANDLE_FILE_INFORMATION aboveInfo;
        if (above.valid() && GetFileInformationByHandle(above.get(), &aboveInfo) &&
            aboveInfo.dwVolumeSerialNumber == info.dwVolumeSerialNumber) {
            parentResolved = joined(pathOnVolume(above.get()), wide.substr(separator + 1));
        }
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        reason = "not a folder";
        return false;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (hasParent && !samePath(resolved, parentResolved))) {
        reason = "a link, never entered";
        return false;
    }
    state->path = trimmed;
    state->wide = wide;
    state->finalPath = resolved;
    state->device = info.dwVolumeSerialNumber;
    state->index = fileIndex(info);
    return true;
}

bool folderIsMissing(const std::string& path)
{
    std::u16string utf16;
    if (!utf16FromWtf8(path, utf16)) {
        return false;
    }
    const std::wstring wide = extendedPath(std::wstring(utf16.begin(), utf16.end()));
    return !wide.empty() && GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES && isMissing(GetLastError());
}

const std::string& ObjectFolder::path() const { return state->path; }

std::uint64_t ObjectFolder::device() const { return state->device; }

bool ObjectFolder::forEach(const Visit& visit, std::string& reason) const
{
    WIN32_FIND_DATAW found;
    const HANDLE search =
        FindFirstFileExW(joined(state->wide, L"*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        reason = systemReason(GetLastError());
        return false;
    }
    do {
        FolderEntry entry{narrowOf(found.cFileName), EntryType::file};
        if (entry.name == "." || entry.name == "..") {
            continue;
        }
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            entry.type = EntryType::link;
        } else if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            entry.type = EntryType::folder;
        }
        visit(entry);
    } while (FindNextFileW(search, &found));
    const DWORD end = GetLastError();
    FindClose(search);
    if (end != ERROR_NO_MORE_FILES) {
        reason = systemReason(end);
        return false;
    }
    return true;
}

// A folder's size says nothing of its entries on Windows.
std::size_t ObjectFolder::entryCountHint() const { return 0; }

ObjectFolder::Look ObjectFolder::inspect(const std::string& name, ObjectFile& file, EntryType& type,
                                         std::string& reason) const
{
    constexpr DWORD flags = FILE_FLAG_BACKUP_SEMANTICS; // folders too
    HANDLE opened = openEntry(*state, name, FILE_READ_ATTRIBUTES | READ_CONTROL, shareAll, flags);
    if (opened == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
        opened = openEntry(*state, name, FILE_READ_ATTRIBUTES, shareAll, flags); // the owner stays unknown
    }
    const Handle entry(opened);
    if (!entry.valid()) {
        const DWORD error = GetLastError();
        if (isMissing(error)) {
            return Look::gone;
        }
        reason = systemReason(error);
        return Look::failed;
    }
    BY_HANDLE_FILE_INFORMATION info;
    type = typeOnHandle(*state, name, entry.get(), info);
    file = objectFileOf(name, info);
    file.ownerId = ownerSid(entry.get());
    return Look::found;
}

// Opening with no sharing at all fails while any other handle is open on the
// file (Boost keeps one for as long as a block is mapped).
Hold ObjectFolder::hold(const std::string& name) const
{
    const Handle file(openEntry(*state, name, GENERIC_READ, 0, 0));
    if (file.valid()) {
        return Hold::free;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION ? Hold::held : Hold::unknown;
}

ObjectFolder::Snapshot ObjectFolder::read(const std::string& name, std::size_t size) const
{
    Snapshot snapshot;
    const Handle file(openEntry(*state, name, GENERIC_READ, shareAll, 0));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        snapshot.outcome = isMissing(error) ? Snapshot::gone : Snapshot::cannotOpen;
        snapshot.reason = systemReason(error);
        return snapshot;
    }
    BY_HANDLE_FILE_INFORMATION before;
    BY_HANDLE_FILE_INFORMATION after;
    if (typeOnHandle(*state, name, file.get(), before) != EntryType::file) {
        snapshot.outcome = Snapshot::notFile;
        return snapshot;
    }
    snapshot.file = objectFileOf(name, before);
    snapshot.file.ownerId = ownerSid(file.get());
    snapshot.outcome = Snapshot::read;
    if (snapshot.file.size != size) {
        return snapshot;
    }
    snapshot.bytes.resize(size);
    std::size_t got = 0;
    while (got < size) {
        DWORD part = 0;
        if (!ReadFile(file.get(), snapshot.bytes.data() + got, static_cast<DWORD>(size - got), &part, nullptr)) {
            snapshot.outcome = Snapshot::cannotRead;
            snapshot.reason = systemReason(GetLastError());
            return snapshot;
        }
        if (part == 0) {
            snapshot.outcome = Snapshot::changed;
            return snapshot;
        }
        got += part;
    }
    if (!GetFileInformationByHandle(file.get(), &after) || !sameState(before, after)) {
        snapshot.outcome = Snapshot::changed;
    }
    return snapshot;
}

} // namespace tool
} // namespace okr
