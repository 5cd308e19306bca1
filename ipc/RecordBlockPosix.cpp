// POSIX shared memory, which Boost.Interprocess uses too, called directly:
// the names are files of /dev/shm, so a block built without a name (or
// under a hidden one) is published with link(2), which never replaces an
// existing name. The locks of RecordLocks.h are taken on each block's file.

#include "RecordBlockPlatform.h"
#include "RecordLocks.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
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
    int fd = -1;   // holds the user lock (and the owner lock) while mapped
    pid_t pid = 0; // the process that owns the name; a forked child does not
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
    ~Descriptor()
    {
        if (value >= 0) {
            close(value);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return value; }
    int release()
    {
        const int kept = value;
        value = -1;
        return kept;
    }

private:
    int value;
};

// How long a user waits for a block that someone is deciding is unused
// (okr-shm clean holds flock LOCK_EX for that moment), and a remover for
// another remover of the same file, before giving up.
constexpr std::chrono::milliseconds lockPatience{2000};
constexpr std::chrono::milliseconds lockRetryPause{1};

mode_t modeOf(RecordAccess access)
{
    switch (access) {
    case RecordAccess::group: return 0660;
    case RecordAccess::everyone: return 0666;
    case RecordAccess::user: break;
    }
    return 0600;
}

// An open-file-description lock of one byte: it belongs to the open file,
// not the process, so two opens in one process exclude each other as two
// processes do; a forked child shares it, and keeps it while it lives.
bool lockByte(int fd, std::uint64_t byte)
{
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(byte);
    lock.l_len = 1;
    if (fcntl(fd, F_OFD_SETLK, &lock) == 0) {
        return true;
    }
    if (errno == EAGAIN || errno == EACCES) {
        return false;
    }
    fail(errno);
}

// The user lock, waiting a bounded while for whoever holds LOCK_EX to
// decide; false when it never let go.
bool takeUserLock(int fd, std::chrono::steady_clock::time_point deadline)
{
    while (flock(fd, LOCK_SH | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            fail(errno);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(lockRetryPause);
    }
    return true;
}

// Whether name means the file of dev/ino; lstat, since a symbolic link is
// never a block.
bool nameMeans(const std::string& name, dev_t device, ino_t inode)
{
    struct stat st = {};
    return lstat((folder + name).c_str(), &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

// This process's id without a system call per record: forgotten in the
// child of a fork(2) and asked again there.
std::atomic<pid_t> knownPid{0};

pid_t currentPid()
{
    static const bool forgottenOnFork = pthread_atfork(nullptr, nullptr, [] { knownPid.store(0); }) == 0;
    pid_t pid = knownPid.load(std::memory_order_relaxed);
    if (pid == 0) {
        pid = getpid();
        if (forgottenOnFork) {
            knownPid.store(pid, std::memory_order_relaxed);
        }
    }
    return pid;
}

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
    explicit NewBlock(mode_t mode)
    {
        if (currentWay() != PublishWay::hiddenName) {
            fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
            if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR)) {
                demote(PublishWay::hiddenName);
            }
        }
        if (fd < 0) {
            hidden = hiddenName();
            fd = shm_open(("/" + hidden).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
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
        if (fd >= 0) {
            close(fd);
        }
    }
    NewBlock(const NewBlock&) = delete;
    NewBlock& operator=(const NewBlock&) = delete;

    int get() const { return fd; }
    // The descriptor for the published block, whose locks it holds.
    int release()
    {
        const int kept = fd;
        fd = -1;
        return kept;
    }

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

RecordBlockImpl* adopt(Mapping& mapping, std::size_t size, bool owning, const std::string& name, const struct stat& st,
                       int fd)
{
    auto* block = new RecordBlockImpl;
    block->size = size;
    block->owning = owning;
    block->name = name;
    block->device = st.st_dev;
    block->inode = st.st_ino;
    block->fd = fd;
    block->pid = owning ? currentPid() : 0;
    block->address = mapping.release();
    return block;
}

// Removes the name of the file open on fd, under its name lock, if the name
// still means it; false when it does not, or when someone else holds the
// name lock (and so is removing that very name). The caller closes fd next,
// which lets the lock go.
bool removeNameOf(int fd, const std::string& name, dev_t device, ino_t inode)
{
    if (!lockByte(fd, recordLocks::nameByte)) {
        return false;
    }
    const bool means = nameMeans(name, device, inode);
    if (!means || shm_unlink(("/" + name).c_str()) == 0) {
        return means;
    }
    if (errno == ENOENT) {
        return false;
    }
    fail(errno);
}

} // namespace

bool nameFitsFolder(const std::string& name) noexcept { return name.size() <= NAME_MAX; }

void startPublishingAt(PublishWay way) noexcept { publishing.store(static_cast<int>(way)); }

RecordBlockImpl* publishNewBlock(const std::string& name, std::size_t size, RecordBlock::Construct construct,
                                 bool owning, RecordAccess access)
{
    NewBlock block(modeOf(access));
    const int fd = block.get();
    // Locked before anyone can see it (a hidden name included), so it is never taken for unused nor
    // for a dead owner's.
    if (!takeUserLock(fd, std::chrono::steady_clock::now() + lockPatience)) {
        throw SharedException(recordError::cannotOpen);
    }
    // Exactly the access asked for, whatever the umask: the file was made
    // with it, so it needs fchmod only where the umask took some away.
    struct stat st = {};
    if (fstat(fd, &st) != 0) {
        fail(errno);
    }
    const mode_t mode = modeOf(access);
    if ((st.st_mode & 07777) != mode && fchmod(fd, mode) != 0) {
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
    if (owning && !lockByte(fd, recordLocks::ownerByte)) {
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
    return adopt(mapping, size, owning, name, st, block.release());
}

RecordBlockImpl* openBlock(const std::string& name, std::size_t size, bool readOnly)
{
    const auto deadline = std::chrono::steady_clock::now() + lockPatience;
    for (;;) {
        // O_NONBLOCK: a FIFO that someone put under the name must not hang us.
        Descriptor descriptor(
            shm_open(("/" + name).c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0));
        const int fd = descriptor.get();
        if (fd < 0) {
            if (errno == ENOENT) {
                return nullptr;
            }
            fail(errno);
        }
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
        if (!takeUserLock(fd, deadline)) {
            throw SharedException(recordError::cannotOpen);
        }
        // Whoever held LOCK_EX may have removed the name meanwhile, and
        // someone may have made another block under it: that one then.
        if (!nameMeans(name, st.st_dev, st.st_ino)) {
            if (std::chrono::steady_clock::now() >= deadline) {
                throw SharedException(recordError::cannotOpen);
            }
            continue;
        }
        Mapping mapping(fd, size, readOnly);
        return adopt(mapping, size, false, name, st, descriptor.release());
    }
}

RecordBlockImpl* takeOverBlock(const std::string& name, std::size_t size)
{
    RecordBlockImpl* block = openBlock(name, size, false);
    if (block == nullptr) {
        return nullptr;
    }
    bool owned = false;
    try {
        owned = lockByte(block->fd, recordLocks::ownerByte);
    } catch (...) {
        closeBlock(block);
        throw;
    }
    if (!owned) {
        closeBlock(block);
        throw SharedException(recordError::ownerAlive);
    }
    block->owning = true;
    block->pid = currentPid();
    return block;
}

bool waitForName(const std::string& name, std::chrono::steady_clock::time_point deadline)
{
    const Descriptor watch(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (watch.get() < 0 || inotify_add_watch(watch.get(), folder.c_str(), IN_CREATE | IN_MOVED_TO) < 0) {
        fail(errno);
    }
    // Watched before looking: a name made after the caller's last try is
    // either seen here or reported by the watch.
    struct stat st = {};
    if (lstat((folder + name).c_str(), &st) == 0) {
        return true;
    }
    alignas(struct inotify_event) char events[sizeof(struct inotify_event) + NAME_MAX + 1];
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd ready = {watch.get(), POLLIN, 0};
        const int count = poll(&ready, 1, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
        if (count < 0 && errno != EINTR) {
            fail(errno);
        }
        for (ssize_t got; (got = read(watch.get(), events, sizeof events)) > 0;) {
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const struct inotify_event*>(events + at);
                if ((event->mask & IN_Q_OVERFLOW) != 0 || (event->len != 0 && name == event->name)) {
                    return true;
                }
                at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
            }
        }
    }
}

void endWaitForName() noexcept {} // each wait watches the folder afresh

void* blockAddress(const RecordBlockImpl& block) noexcept { return block.address; }

bool isCurrentBlock(const RecordBlockImpl& block) { return nameMeans(block.name, block.device, block.inode); }

void closeBlock(RecordBlockImpl* block) noexcept
{
    if (block == nullptr) {
        return;
    }
    munmap(block->address, block->size);
    // A forked child shares the descriptor, but the name stays its parent's.
    if (block->owning && block->pid == currentPid()) {
        try {
            removeNameOf(block->fd, block->name, block->device, block->inode);
        } catch (const SharedException&) {
            // the name stays; okr-shm clean finds it unused
        }
    }
    close(block->fd);
    delete block;
}

bool removeBlockName(const std::string& name)
{
    const auto deadline = std::chrono::steady_clock::now() + lockPatience;
    for (;;) {
        const Descriptor descriptor(shm_open(("/" + name).c_str(), O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0));
        if (descriptor.get() < 0) {
            if (errno == ENOENT) {
                return false;
            }
            fail(errno);
        }
        struct stat st = {};
        if (fstat(descriptor.get(), &st) != 0) {
            fail(errno);
        }
        if (removeNameOf(descriptor.get(), name, st.st_dev, st.st_ino)) {
            return true;
        }
        // Another remover, or the name changed since it was opened.
        if (std::chrono::steady_clock::now() >= deadline) {
            throw SharedException(recordError::cannotOpen);
        }
        std::this_thread::sleep_for(lockRetryPause);
    }
}

} // namespace ipc
} // namespace okr
