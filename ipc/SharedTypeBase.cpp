#include "BlockReservation.h"
#include "SharedName.h"
#include "SharedType.h"
#include "SharedTypeImpl.h"

#include <boost/interprocess/exceptions.hpp>
#include <boost/interprocess/permissions.hpp>

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

bool SharedTypeImpl::create(std::size_t size)
{
    if (!isValidSharedName(name)) {
        throw SharedException(openFailure);
    }
    try {
        const bool writable = mode == creatingSide;
        if (writable) {
            bip::permissions unrestricted;
            unrestricted.set_unrestricted();
            shm = bip::shared_memory_object(bip::open_or_create, name.c_str(), bip::read_write, unrestricted);
            shm.truncate(static_cast<bip::offset_t>(size));
            reserveBlockMemory(shm, size);
        } else {
            shm = bip::shared_memory_object(bip::open_only, name.c_str(), bip::read_only);
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
