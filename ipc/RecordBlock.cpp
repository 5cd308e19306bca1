#include "RecordBlockPlatform.h"
#include "SharedName.h"
#include "SharedRecord.h"

namespace okr {
namespace ipc {

namespace {

void checkName(const std::string& name)
{
    if (!isValidSharedName(name) || !nameFitsFolder(name)) {
        throw SharedException(recordError::refusedName);
    }
}

// openOrCreate meets a name that vanishes between its open and its publish
// only when someone removes and recreates it at that moment; a few tries
// are enough unless someone does so on purpose, and then it gives up.
constexpr int openOrCreateTries = 16;

} // namespace

RecordBlock::RecordBlock(RecordBlockImpl* state) noexcept : impl(state) {}

RecordBlock::RecordBlock(RecordBlock&& other) noexcept : impl(other.impl) { other.impl = nullptr; }

RecordBlock& RecordBlock::operator=(RecordBlock&& other) noexcept
{
    if (this != &other) {
        closeBlock(impl);
        impl = other.impl;
        other.impl = nullptr;
    }
    return *this;
}

RecordBlock::~RecordBlock() { closeBlock(impl); }

void* RecordBlock::address() const noexcept { return impl == nullptr ? nullptr : blockAddress(*impl); }

RecordBlock RecordBlock::create(const std::string& name, std::size_t size, Construct construct, RecordAccess access)
{
    checkName(name);
    RecordBlockImpl* made = publishNewBlock(name, size, construct, true, access);
    if (made == nullptr) {
        throw SharedException(recordError::nameExists);
    }
    return RecordBlock(made);
}

RecordBlock RecordBlock::openOrCreate(const std::string& name, std::size_t size, Construct construct,
                                      RecordAccess access)
{
    checkName(name);
    for (int attempt = 0; attempt < openOrCreateTries; ++attempt) {
        if (RecordBlockImpl* opened = openBlock(name, size, false)) {
            return RecordBlock(opened);
        }
        // The loser of a race to publish opens the winner's block next round.
        if (RecordBlockImpl* made = publishNewBlock(name, size, construct, false, access)) {
            return RecordBlock(made);
        }
    }
    throw SharedException(recordError::cannotOpen);
}

RecordBlock RecordBlock::create(const std::string& name, std::size_t size, Construct construct)
{
    return create(name, size, construct, RecordAccess::everyone);
}

RecordBlock RecordBlock::openOrCreate(const std::string& name, std::size_t size, Construct construct)
{
    return openOrCreate(name, size, construct, RecordAccess::everyone);
}

RecordBlock RecordBlock::open(const std::string& name, std::size_t size, bool readOnly)
{
    checkName(name);
    RecordBlockImpl* opened = openBlock(name, size, readOnly);
    if (opened == nullptr) {
        throw SharedException(recordError::nameMissing);
    }
    return RecordBlock(opened);
}

RecordBlock RecordBlock::openWaiting(const std::string& name, std::size_t size, bool readOnly, std::int64_t timeoutMs)
{
    checkName(name);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        if (RecordBlockImpl* opened = openBlock(name, size, readOnly)) {
            return RecordBlock(opened);
        }
    } while (waitForName(name, deadline));
    throw SharedException(recordError::nameMissing);
}

RecordBlock RecordBlock::takeOver(const std::string& name, std::size_t size)
{
    checkName(name);
    RecordBlockImpl* taken = takeOverBlock(name, size);
    if (taken == nullptr) {
        throw SharedException(recordError::nameMissing);
    }
    return RecordBlock(taken);
}

bool RecordBlock::isCurrent() const { return impl != nullptr && isCurrentBlock(*impl); }

bool RecordBlock::remove(const std::string& name)
{
    checkName(name);
    return removeBlockName(name);
}

} // namespace ipc
} // namespace okr
