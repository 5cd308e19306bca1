#ifndef OKR_IPC_RECORDBLOCKPLATFORM_H
#define OKR_IPC_RECORDBLOCKPLATFORM_H

// What RecordBlock asks of the platform (RecordBlockPosix.cpp,
// RecordBlockWindows.cpp). Each throws SharedException with one of
// recordError's texts for every failure but the two that RecordBlock decides
// on itself, which come back as null.

#include "SharedRecord.h"

#include <cstddef>
#include <string>

namespace okr {
namespace ipc {

// Builds the block under a hidden, unpredictable name in the same folder,
// sizes it, reserves its memory, constructs the record, and only then
// publishes it under name, never replacing what already has that name. Null
// when name existed: the hidden block is gone again and nothing changed.
RecordBlockImpl* publishNewBlock(const std::string& name, std::size_t size, RecordBlock::Construct construct,
                                 bool owning);

// The existing block of exactly size bytes, mapped whole; null when there
// is no such name.
RecordBlockImpl* openBlock(const std::string& name, std::size_t size, bool readOnly);

// How POSIX publishes a new block, best first: an unnamed file linked by its
// descriptor, the same through /proc, a hidden name. A process moves down
// the list once its system refuses a way; tests start lower to reach each.
// Windows always uses a hidden name.
enum class PublishWay { byDescriptor, throughProc, hiddenName };
void startPublishingAt(PublishWay way) noexcept;

void* blockAddress(const RecordBlockImpl& block) noexcept;

// Unmaps and closes the block; an owning block also removes its name, if
// the name still means this block and not one someone made since.
void closeBlock(RecordBlockImpl* block) noexcept;

// False when there was no such name.
bool removeBlockName(const std::string& name);

} // namespace ipc
} // namespace okr

#endif
