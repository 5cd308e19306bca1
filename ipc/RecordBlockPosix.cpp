// POSIX shared memory, which Boost.Interprocess uses too, called directly:
// the names are files of /dev/shm, so a block built without a name (or
// under a hidden one) is published with link(2), which never replaces an
// existing name.

#include "RecordBlockPlatform.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <utility>

namespace okr {
namespace ipc {

class RecordBlockImpl {
public:
    void* address = nullptr;
    std::size_t size = 0;
    bool owning = false;
    std::string name;
    dev_t device = 0;
    ino_t inode = 0;
};

namespace {

// Where glibc's shm_open keeps its names.
const std::string folder = "/dev/shm/";

const char* failureText(int error)
{
    switch (error) {
    case ENOENT: return recordError::nameMissing;
    case EEXIST: return recordError::nameExists;
    case EACCES:
    case EPERM: return recordError::accessDenied;
    case ENOSPC: return recordError::noSpace;
    case ENAMETOOLONG: return recordError::refusedName;
    default: return recordError::cannotOpen;
    }
}

[[noreturn]] void fail(int error) { throw SharedException(failureText(error)); }

std::string hiddenName()
{
    unsigned char bytes[12];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno != EINTR) {
            fail(errno);
        }
        got += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    static const char digits[] = "0123456789abcdef";
    std::string name = ".okr-new-";
    for (const unsigned char byte : bytes) {
        name += digits[byte >> 4];
        name += digits[byte & 0xF];
    }
    return name;
}

class Descriptor {
public:
    explicit Descriptor(int fd) : value(fd) {}
    ~Descriptor() { close(value); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return value; }

private:
    int value;
};

std::atomic<int> publishing{static_cast<int>(PublishWay::byDescriptor)};

PublishWay currentWay() { return static_cast<PublishWay>(publishing.load(std::memory_order_relaxed)); }

// A way the system refused once is not tried again by this process.
void demote(PublishWay to)
{
    int now = publishing.load(std::memory_order_relaxed);
    while (now < static_cast<int>(to) && !publishing.compare_exchange_weak(now, static_cast<int>(to))) {
    }
}

// A block that has no name yet: an unnamed file of the folder (O_TMPFILE),
// of which nothing is left if the process dies before publishing it; where
// the folder cannot make one, a hidden, unpredictable name in it, removed
// however the building ends.
class NewBlock {
public:
    NewBlock()
    {
        if (currentWay() != PublishWay::hiddenName) {
            fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
            if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR)) {
                demote(PublishWay::hiddenName);
            }
        }
        if (fd < 0) {
            hidden = hiddenName();
            fd = shm_open(("/" + hidden).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0) {
                fail(errno);
            }
        }
    }
    // The hidden name goes before the descriptor: while it exists, this
    // process is seen holding it, and okr-shm clean leaves it alone.
    ~NewBlock()
    {
        if (!hidden.empty()) {
            shm_unlink(("/" + hidden).c_str());
        }
        close(fd);
    }
    NewBlock(const NewBlock&) = delete;
    NewBlock& operator=(const NewBlock&) = delete;

    int get() const { return fd; }

    // link(2) publishes the finished record in one step and fails when the
    // name exists: no opener sees it before its constructor ran, and a loser
    // of a race leaves the winner's record alone. False with errno set;
    // EAGAIN: build it again, this process now uses hidden names.
    bool publish(const std::string& name) const
    {
        const std::string target = folder + name;
        if (!hidden.empty()) {
            return linkat(AT_FDCWD, (folder + hidden).c_str(), AT_FDCWD, target.c_str(), 0) == 0;
        }
        // By the descriptor itself where the kernel lets the process (root,
        // or any process on recent kernels), else through /proc, a longer walk.
        if (currentWay() == PublishWay::byDescriptor) {
            if (linkat(fd, "", AT_FDCWD, target.c_str(), AT_EMPTY_PATH) == 0) {
                return true;
            }
            if (errno != ENOENT && errno != EPERM) {
                return false;
            }
            demote(PublishWay::throughProc);
        }
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return true;
        }
        if (errno == ENOENT) { // no /proc
            demote(PublishWay::hiddenName);
            errno = EAGAIN;
        }
        return false;
    }

private:
    int fd = -1;
    std::string hidden;
};

class Mapping {
public:
    Mapping(int fd, std::size_t bytes, bool readOnly)
        : address(mmap(nullptr, bytes, readOnly ? PROT_READ : PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)), size(bytes)
    {
        if (address == MAP_FAILED) {
            fail(errno);
        }
    }
    ~Mapping()
    {
        if (address != nullptr) {
            munmap(address, size);
        }
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    void* release()
    {
        void* kept = address;
        address = nullptr;
        return kept;
    }
    void* get() const { return address; }

private:
    void* address;
    std::size_t size;
};

RecordBlockImpl* adopt(Mapping& mapping, std::size_t size, bool owning, const std::string& name, const struct stat& st)
{
    auto* block = new RecordBlockImpl;
    block->size = size;
    block->owning = owning;
    block->name = name;
    block->device = st.st_dev;
    block->inode = st.st_ino;
    block->address = mapping.release();
    return block;
}

} // namespace

void startPublishingAt(PublishWay way) noexcept { publishing.store(static_cast<int>(way)); }

// TEMPORARY (i27-rest only, dropped at merge for i27-linux's version).
bool nameFitsFolder(const std::string& name) noexcept { return name.size() <= 255; }

RecordBlockImpl* takeOverBlock(const std::string&, std::size_t) { throw SharedException(recordError::ownerAlive); }

bool isCurrentBlock(const RecordBlockImpl&) { return true; }

RecordBlockImpl* publishNewBlock(const std::string& name, std::size_t size, RecordBlock::Construct construct,
                                 bool owning, RecordAccess access)
{
    const NewBlock block;
    const int fd = block.get();
    // Every user's processes may open the record whatever the umask, as
    // SharedTypeBase's blocks.
    if (fchmod(fd, 0666) != 0) {
        fail(errno);
    }
    // The pages now, so that a full /dev/shm fails here rather than with
    // SIGBUS in whichever process first writes the record. posix_fallocate
    // also gives the empty new file its size, so no ftruncate precedes it.
    int error = 0;
    do {
        error = posix_fallocate(fd, 0, static_cast<off_t>(size));
    } while (error == EINTR);
    if (error != 0) {
        fail(error);
    }
    struct stat st = {};
    if (owning && fstat(fd, &st) != 0) {
        fail(errno);
    }
    Mapping mapping(fd, size, false);
    construct(mapping.get());
    if (!block.publish(name)) {
        if (errno == EAGAIN) {
            return publishNewBlock(name, size, construct, owning, access); // once: now under a hidden name
        }
        if (errno == EEXIST) {
            return nullptr;
        }
        fail(errno);
    }
    return adopt(mapping, size, owning, name, st);
}

RecordBlockImpl* openBlock(const std::string& name, std::size_t size, bool readOnly)
{
    // O_NONBLOCK: a FIFO that someone put under the name must not hang us.
    const int fd = shm_open(("/" + name).c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_NONBLOCK | O_CLOEXEC, 0);
    if (fd < 0) {
        if (errno == ENOENT) {
            return nullptr;
        }
        fail(errno);
    }
    const Descriptor descriptor(fd);
    struct stat st = {};
    if (fstat(fd, &st) != 0) {
        fail(errno);
    }
    if (!S_ISREG(st.st_mode)) {
        throw SharedException(recordError::cannotOpen);
    }
    if (static_cast<std::size_t>(st.st_size) != size) {
        throw SharedException(recordError::otherSize);
    }
    Mapping mapping(fd, size, readOnly);
    return adopt(mapping, size, false, name, st);
}

void* blockAddress(const RecordBlockImpl& block) noexcept { return block.address; }

void closeBlock(RecordBlockImpl* block) noexcept
{
    if (block == nullptr) {
        return;
    }
    munmap(block->address, block->size);
    if (block->owning) {
        // Only the owner's own block: someone may have removed the name and
        // made another record under it since.
        struct stat st = {};
        if (lstat((folder + block->name).c_str(), &st) == 0 && st.st_dev == block->device &&
            st.st_ino == block->inode) {
            shm_unlink(("/" + block->name).c_str());
        }
    }
    delete block;
}

bool removeBlockName(const std::string& name)
{
    if (shm_unlink(("/" + name).c_str()) == 0) {
        return true;
    }
    if (errno == ENOENT) {
        return false;
    }
    fail(errno);
}

} // namespace ipc
} // namespace okr
