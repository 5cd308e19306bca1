#ifndef OKR_IPC_RECORDBLOCKPLATFORM_H
#define OKR_IPC_RECORDBLOCKPLATFORM_H

// What RecordBlock asks of the platform (RecordBlockPosix.cpp,
// RecordBlockWindows.cpp). Each throws SharedException with one of
// recordError's texts for every failure but the ones that RecordBlock
// decides on itself, which come back as null or false.
//
// Every block the library maps is held by the locks of ipc/RecordLocks for
// as long as it is mapped: the user lock by everyone who maps it, the owner
// lock by its owner; a name is removed only under the block's name lock,
// after the name was seen to mean that very block.

#include "SharedRecord.h"

#include <chrono>
#include <cstddef>
#include <string>

namespace okr {
namespace ipc {

// True when the platform's folder can hold a file of this name (its length
// in the units the folder counts); checked before any other call.
bool nameFitsFolder(const std::string& name) noexcept;

// Builds the block under a hidden, unpredictable name (or none) in the same
// folder, with the access given, sizes it, reserves its memory, takes the
// user lock (and the owner lock when owning), constructs the record, and
// only then publishes it under name, never replacing what already has that
// name. Null when name existed: the hidden block is gone again and nothing
// changed.
RecordBlockImpl* publishNewBlock(const std::string& name, std::size_t size, RecordBlock::Construct construct,
                                 bool owning, RecordAccess access);

// The existing block of exactly size bytes, mapped whole, its user lock
// taken and the name seen to mean it afterwards; null when there is no such
// name.
RecordBlockImpl* openBlock(const std::string& name, std::size_t size, bool readOnly);

// openBlock read-write with the owner lock taken too: the block becomes the
// caller's to remove. Null when there is no such name; throws
// recordError::ownerAlive while another process holds the owner lock.
RecordBlockImpl* takeOverBlock(const std::string& name, std::size_t size);

// Waits until something may have appeared under name, or the deadline
// passes (false then). Never polls; a spurious true is allowed. What the
// waits of one waiting open set up is kept between them, and ends with
// endWaitForName once that open ends, however it ends.
bool waitForName(const std::string& name, std::chrono::steady_clock::time_point deadline);
void endWaitForName() noexcept;

// How POSIX publishes a new block, best first: an unnamed file linked by its
// descriptor, the same through /proc, a hidden name. A process moves down
// the list once its system refuses a way; tests start lower to reach each.
// Windows always uses a hidden name.
enum class PublishWay { byDescriptor, throughProc, hiddenName };
void startPublishingAt(PublishWay way) noexcept;

void* blockAddress(const RecordBlockImpl& block) noexcept;

// Whether the name still means this block.
bool isCurrentBlock(const RecordBlockImpl& block);

// Unmaps and closes the block; an owning block of the process that made it
// (never a forked child) also removes its name, if the name still means
// this block and not one someone made since.
void closeBlock(RecordBlockImpl* block) noexcept;

// Removes the name under its block's name lock. False when there was no
// such name.
bool removeBlockName(const std::string& name);

} // namespace ipc
} // namespace okr

#endif
