// Boost.Interprocess keeps each block as a file of its shared folder, opened
// with every sharing right, delete included; so a block built under a hidden
// name can be renamed to its true name while it is open and mapped, and a
// rename without MOVEFILE_REPLACE_EXISTING never replaces an existing name.

#define _CRT_RAND_S // rand_s, from the system's own random source

#include "BlockReservation.h"
#include "RecordBlockPlatform.h"

#include <boost/interprocess/detail/shared_dir_helpers.hpp>
#include <boost/interprocess/errors.hpp>
#include <boost/interprocess/exceptions.hpp>
#include <boost/interprocess/mapped_region.hpp>
#include <boost/interprocess/permissions.hpp>
#include <boost/interprocess/shared_memory_object.hpp>

#include <windows.h>

#include <cstdlib>
#include <memory>

namespace bip = boost::interprocess;

namespace okr {
namespace ipc {

// Members in this order, so that destruction unmaps the view before it closes the handle.
class RecordBlockImpl {
public:
    bool owning = false;
    std::string name;
    bip::shared_memory_object shm;
    bip::mapped_region region;
};

namespace {

const char* failureText(bip::error_code_t code)
{
    switch (code) {
    case bip::not_found_error: return recordError::nameMissing;
    case bip::already_exists_error: return recordError::nameExists;
    case bip::security_error: return recordError::accessDenied;
    case bip::out_of_space_error: return recordError::noSpace;
    case bip::path_error: return recordError::refusedName;
    default: return recordError::cannotOpen;
    }
}

[[noreturn]] void fail(const bip::interprocess_exception& e) { throw SharedException(failureText(e.get_error_code())); }

[[noreturn]] void failNative(DWORD error)
{
    throw SharedException(failureText(bip::error_info(static_cast<bip::native_error_t>(error)).get_error_code()));
}

std::string hiddenName()
{
    static const char digits[] = "0123456789abcdef";
    std::string name = ".okr-new-";
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

std::string pathOf(const std::string& name)
{
    std::string path;
    bip::ipcdetail::shared_filepath(name.c_str(), path);
    return path;
}

// The hidden name goes however the building ends: Boost removes an open
// file's name at once and the file with its last handle. Until the block is
// published, the handle is open: okr-shm clean sees the hidden name held
// and leaves it alone.
class HiddenName {
public:
    explicit HiddenName(std::string hidden) : name(std::move(hidden)) {}
    ~HiddenName()
    {
        if (!published) {
            bip::shared_memory_object::remove(name.c_str());
        }
    }
    HiddenName(const HiddenName&) = delete;
    HiddenName& operator=(const HiddenName&) = delete;
    bool published = false;

private:
    std::string name;
};

bool sameFile(HANDLE ours, const std::string& path)
{
    const HANDLE named =
        CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION a = {};
    BY_HANDLE_FILE_INFORMATION b = {};
    // Both are files of the one shared folder, so of one volume; the file
    // index alone tells them apart (Wine gives a volume serial of 0 for a
    // handle that was opened under another name).
    const bool same = GetFileInformationByHandle(ours, &a) && GetFileInformationByHandle(named, &b) &&
                      a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(named);
    return same;
}

} // namespace

void startPublishingAt(PublishWay /*way*/) noexcept {}

RecordBlockImpl* publishNewBlock(const std::string& name, std::size_t size, RecordBlock::Construct construct,
                                 bool owning)
{
    const std::string hidden = hiddenName();
    HiddenName temporary(hidden);
    auto block = std::make_unique<RecordBlockImpl>();
    try {
        bip::permissions unrestricted;
        unrestricted.set_unrestricted();
        block->shm = bip::shared_memory_object(bip::create_only, hidden.c_str(), bip::read_write, unrestricted);
        block->shm.truncate(static_cast<bip::offset_t>(size));
        reserveBlockMemory(block->shm, size);
        block->region = bip::mapped_region(block->shm, bip::read_write, 0, size);
    } catch (const bip::interprocess_exception& e) {
        fail(e);
    }
    construct(block->region.get_address());
    if (!MoveFileExA(pathOf(hidden).c_str(), pathOf(name).c_str(), 0)) {
        const DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
            return nullptr;
        }
        failNative(error);
    }
    temporary.published = true;
    block->owning = owning;
    block->name = name;
    return block.release();
}

RecordBlockImpl* openBlock(const std::string& name, std::size_t size, bool readOnly)
{
    auto block = std::make_unique<RecordBlockImpl>();
    const bip::mode_t mode = readOnly ? bip::read_only : bip::read_write;
    try {
        block->shm = bip::shared_memory_object(bip::open_only, name.c_str(), mode);
    } catch (const bip::interprocess_exception& e) {
        if (e.get_error_code() == bip::not_found_error) {
            return nullptr;
        }
        fail(e);
    }
    bip::offset_t actual = 0;
    if (!block->shm.get_size(actual)) {
        throw SharedException(recordError::cannotOpen);
    }
    if (actual < 0 || static_cast<std::size_t>(actual) != size) {
        throw SharedException(recordError::otherSize);
    }
    try {
        block->region = bip::mapped_region(block->shm, mode, 0, size);
    } catch (const bip::interprocess_exception& e) {
        fail(e);
    }
    block->name = name;
    return block.release();
}

void* blockAddress(const RecordBlockImpl& block) noexcept { return block.region.get_address(); }

void closeBlock(RecordBlockImpl* block) noexcept
{
    if (block == nullptr) {
        return;
    }
    // Only the owner's own block: someone may have removed the name and made
    // another record under it since.
    const bool remove = block->owning && sameFile(block->shm.get_mapping_handle().handle, pathOf(block->name));
    const std::string name = block->name;
    delete block;
    if (remove) {
        bip::shared_memory_object::remove(name.c_str());
    }
}

bool removeBlockName(const std::string& name)
{
    if (bip::shared_memory_object::remove(name.c_str())) {
        return true;
    }
    const DWORD attributes = GetFileAttributesA(pathOf(name).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    throw SharedException(recordError::accessDenied);
}

} // namespace ipc
} // namespace okr
