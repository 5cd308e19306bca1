#include "BlockLock.h"
#include "BlockReservation.h"
#include "SharedName.h"
#include "SharedType.h"
#include "SharedTypeImpl.h"

#include <boost/interprocess/exceptions.hpp>
#include <boost/interprocess/permissions.hpp>

#include <chrono>
#include <thread>
#include <utility>

namespace bip = boost::interprocess;

namespace okr {
namespace ipc {

namespace {
constexpr std::int32_t creatingSide = 1;
constexpr const char* openFailure = "Cannot open shared memory";
} // namespace

SharedTypeImpl::SharedTypeImpl(const std::string& blockName, std::int32_t accessMode)
    : mode(accessMode), name(blockName)
{
}

namespace {

// Long enough for anyone deciding a block is unused, which holds its lock
// exclusively only for a moment.
constexpr std::chrono::milliseconds lockPatience{1500};
constexpr std::chrono::milliseconds lockRetry{2};

// Opens the block with its user lock held, under a name that still means it:
// a block found unused while this process had not yet locked it may be gone
// from its name, or replaced.
bip::shared_memory_object openLocked(const std::string& name, bool writable)
{
    const auto deadline = std::chrono::steady_clock::now() + lockPatience;
    for (;;) {
        bip::shared_memory_object shm;
        if (writable) {
            bip::permissions unrestricted;
            unrestricted.set_unrestricted();
            shm = bip::shared_memory_object(bip::open_or_create, name.c_str(), bip::read_write, unrestricted);
        } else {
            shm = bip::shared_memory_object(bip::open_only, name.c_str(), bip::read_only);
        }
        bool locked = tryTakeUserLock(shm);
        while (!locked && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(lockRetry);
            locked = tryTakeUserLock(shm);
        }
        if (!locked) {
            throw SharedException(openFailure);
        }
        if (nameStillMeans(name, shm)) {
            return shm;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            throw SharedException(openFailure);
        }
    }
}

} // namespace

bool SharedTypeImpl::create(std::size_t size)
{
    if (!isValidSharedName(name)) {
        throw SharedException(openFailure);
    }
    try {
        const bool writable = mode == creatingSide;
        shm = openLocked(name, writable);
        if (writable) {
            shm.truncate(static_cast<bip::offset_t>(size));
            reserveBlockMemory(shm, size);
        }
        region = bip::mapped_region(shm, writable ? bip::read_write : bip::read_only);
        address = region.get_address();
        return true;
    } catch (const bip::interprocess_exception&) {
        throw SharedException(openFailure);
    }
}

SharedTypeBase::SharedTypeBase(const std::string& name, int mode) : impl(new SharedTypeImpl(name, mode)) {}

SharedTypeBase::~SharedTypeBase()
{
    // A name that could point outside the shared folder is never removed.
    if (!isValidSharedName(impl->name)) {
        delete impl;
        return;
    }
    const std::string removable = impl->name;
    // The guard removes the name only after the view and handle are gone.
    bip::remove_shared_memory_on_destroy remover(removable.c_str());
    delete impl;
}

bool SharedTypeBase::create(std::size_t size) { return impl->create(size); }

void* SharedTypeBase::address() const { return impl->address; }

std::string SharedTypeBase::name() const { return impl->name; }

bool SharedTypeBase::isCreatingSide() const { return impl->mode == creatingSide; }

std::size_t SharedTypeBase::mappedSize() const { return impl->region.get_size(); }

} // namespace ipc
} // namespace okr
