#include "RecordBlockPlatform.h"
#include "SharedName.h"
#include "SharedRecord.h"

#include <chrono>
#include <cstdint>
#include <string_view>

namespace okr {
namespace ipc {

namespace {

// Names are UTF-8 on both systems (Windows turns them into UTF-16): bytes
// that are no character there would reach another name or none. DEL and
// the C1 controls print as nothing, or move a terminal's cursor, in a
// listing.
bool isPrintableUtf8(std::string_view name)
{
    std::size_t at = 0;
    while (at < name.size()) {
        const auto lead = static_cast<unsigned char>(name[at]);
        // A sequence's length, the bits its lead byte gives, and the least
        // point it may carry (anything less is an overlong form).
        std::size_t length = 1;
        std::uint32_t point = lead;
        std::uint32_t least = 0;
        if (lead >= 0xF0) {
            length = 4;
            point = lead & 0x07u;
            least = 0x10000;
        } else if (lead >= 0xE0) {
            length = 3;
            point = lead & 0x0Fu;
            least = 0x800;
        } else if (lead >= 0xC0) {
            length = 2;
            point = lead & 0x1Fu;
            least = 0x80;
        } else if (lead >= 0x80) {
            return false; // a continuation byte without its lead
        }
        if (name.size() - at < length) {
            return false;
        }
        for (std::size_t next = at + 1; next < at + length; ++next) {
            const auto byte = static_cast<unsigned char>(name[next]);
            if ((byte & 0xC0u) != 0x80u) {
                return false;
            }
            point = point << 6 | (byte & 0x3Fu);
        }
        if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF) ||
            (point >= 0x7F && point <= 0x9F)) {
            return false;
        }
        at += length;
    }
    return true;
}

// okr-shm takes these for its own: a creator's unpublished block, and a
// leftover it set aside.
bool hasReservedPrefix(std::string_view name)
{
    for (const std::string_view prefix : {".okr-new-", ".okr-shm-"}) {
        if (name.compare(0, prefix.size(), prefix) == 0) {
            return true;
        }
    }
    return false;
}

// Every call checks the name before it touches anything, so a name is
// refused the same way by each.
void checkName(const std::string& name)
{
    if (!isValidSharedName(name) || !isPrintableUtf8(name) || hasReservedPrefix(name) || !nameFitsFolder(name)) {
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

bool RecordBlock::isCurrent() const { return impl != nullptr && isCurrentBlock(*impl); }

RecordBlock RecordBlock::create(const std::string& name, std::size_t size, Construct construct)
{
    return create(name, size, construct, RecordAccess::everyone);
}

// The 0.3.0 interface: records open to every user, as they were then.
RecordBlock RecordBlock::openOrCreate(const std::string& name, std::size_t size, Construct construct)
{
    return openOrCreate(name, size, construct, RecordAccess::everyone);
}

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
    struct WaitEnd {
        WaitEnd() = default;
        WaitEnd(const WaitEnd&) = delete;
        WaitEnd& operator=(const WaitEnd&) = delete;
        ~WaitEnd() { endWaitForName(); }
    } const waitEnd;
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

bool RecordBlock::remove(const std::string& name)
{
    checkName(name);
    return removeBlockName(name);
}

} // namespace ipc
} // namespace okr
