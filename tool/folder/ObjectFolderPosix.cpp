#include "tool/folder/ObjectFolderPosix.h"
#include "tool/system/SystemReason.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace okr {
namespace tool {

namespace {

EntryType typeOf(mode_t mode)
{
    if (S_ISREG(mode)) {
        return EntryType::file;
    }
    if (S_ISDIR(mode)) {
        return EntryType::folder;
    }
    return S_ISLNK(mode) ? EntryType::link : EntryType::other;
}

EntryType typeOf(unsigned char direntType)
{
    switch (direntType) {
    case DT_DIR: return EntryType::folder;
    case DT_LNK: return EntryType::link;
    case DT_REG:
    case DT_UNKNOWN: return EntryType::file; // inspect() reads what it is
    default: break;
    }
    return EntryType::other;
}

// Whether the file changed between two fstat calls on one descriptor.
bool sameState(const struct stat& before, const struct stat& after)
{
    return before.st_size == after.st_size && before.st_mtim.tv_sec == after.st_mtim.tv_sec &&
           before.st_mtim.tv_nsec == after.st_mtim.tv_nsec && before.st_ctim.tv_sec == after.st_ctim.tv_sec &&
           before.st_ctim.tv_nsec == after.st_ctim.tv_nsec;
}

} // namespace

ObjectFile objectFileOf(const std::string& name, const struct stat& facts)
{
    ObjectFile file;
    file.name = name;
    file.size = static_cast<std::uint64_t>(facts.st_size);
    file.ownerId = std::to_string(facts.st_uid);
    file.modified = facts.st_mtime;
    file.device = facts.st_dev;
    file.inode = facts.st_ino;
    return file;
}

ObjectFolder::ObjectFolder() : state(new Native) {}

ObjectFolder::~ObjectFolder()
{
    if (state && state->fd >= 0) {
        close(state->fd);
    }
}

ObjectFolder::ObjectFolder(ObjectFolder&& other) noexcept : state(std::move(other.state)) {}

ObjectFolder& ObjectFolder::operator=(ObjectFolder&& other) noexcept
{
    std::swap(state, other.state);
    return *this;
}

bool ObjectFolder::open(const std::string& path, std::string& reason)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat facts;
    if (fd < 0 || fstat(fd, &facts) != 0) {
        reason = systemReason(errno);
        if (fd >= 0) {
            close(fd);
        }
        return false;
    }
    if (state->fd >= 0) {
        close(state->fd);
    }
    state->fd = fd;
    state->path = path;
    state->device = facts.st_dev;
    state->inode = facts.st_ino;
    return true;
}

bool folderIsMissing(const std::string& path)
{
    struct stat facts;
    return lstat(path.c_str(), &facts) != 0 && errno == ENOENT;
}

const std::string& ObjectFolder::path() const { return state->path; }

std::uint64_t ObjectFolder::device() const { return state->device; }

bool ObjectFolder::forEach(const Visit& visit, std::string& reason) const
{
    // A descriptor of its own, so the listing starts at the first entry.
    const int fd = openat(state->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* folder = fd >= 0 ? fdopendir(fd) : nullptr;
    if (folder == nullptr) {
        reason = systemReason(errno);
        if (fd >= 0) {
            close(fd);
        }
        return false;
    }
    FolderEntry found;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(folder);
        if (entry == nullptr) {
            break;
        }
        found.name = entry->d_name;
        if (found.name != "." && found.name != "..") {
            found.type = typeOf(entry->d_type);
            visit(found);
        }
    }
    const int failure = errno;
    closedir(folder);
    if (failure != 0) {
        reason = systemReason(failure);
        return false;
    }
    return true;
}

// tmpfs, where /dev/shm lives, counts 20 bytes of a folder's size for each
// entry, "." and ".." among them; other file systems at least as many.
std::size_t ObjectFolder::entryCountHint() const
{
    struct stat facts;
    return fstat(state->fd, &facts) == 0 && facts.st_size > 0 ? static_cast<std::size_t>(facts.st_size) / 20 : 0;
}

ObjectFolder::Look ObjectFolder::inspect(const std::string& name, ObjectFile& file, EntryType& type,
                                         std::string& reason) const
{
    struct stat facts;
    if (fstatat(state->fd, name.c_str(), &facts, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) {
            return Look::gone;
        }
        reason = systemReason(errno);
        return Look::failed;
    }
    type = typeOf(facts.st_mode);
    file = objectFileOf(name, facts);
    return Look::found;
}

// Which processes map or hold a block is read from /proc instead.
Hold ObjectFolder::hold(const std::string&) const { return Hold::unknown; }

ObjectFolder::Snapshot ObjectFolder::read(const std::string& name, std::size_t size) const
{
    Snapshot snapshot;
    // O_NONBLOCK: a FIFO of that name must not stop the tool.
    const int fd = openat(state->fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        snapshot.outcome = errno == ENOENT ? Snapshot::gone : errno == ELOOP ? Snapshot::notFile : Snapshot::cannotOpen;
        snapshot.reason = systemReason(errno);
        return snapshot;
    }
    struct stat before;
    struct stat after;
    if (fstat(fd, &before) != 0 || !S_ISREG(before.st_mode)) {
        close(fd);
        snapshot.outcome = Snapshot::notFile;
        return snapshot;
    }
    snapshot.file = objectFileOf(name, before);
    snapshot.outcome = Snapshot::read;
    if (snapshot.file.size == size) {
        // pread, not a mapping: a file that shrinks under a mapping kills its
        // reader with SIGBUS; pread only comes back short.
        snapshot.bytes.resize(size);
        std::size_t got = 0;
        while (got < size) {
            const ssize_t part = pread(fd, snapshot.bytes.data() + got, size - got, static_cast<off_t>(got));
            if (part < 0 && errno == EINTR) {
                continue;
            }
            if (part < 0) {
                snapshot.outcome = Snapshot::cannotRead;
                snapshot.reason = systemReason(errno);
                break;
            }
            if (part == 0) {
                snapshot.outcome = Snapshot::changed;
                break;
            }
            got += static_cast<std::size_t>(part);
        }
    }
    if (snapshot.outcome == Snapshot::read && snapshot.file.size == size &&
        (fstat(fd, &after) != 0 || !sameState(before, after))) {
        snapshot.outcome = Snapshot::changed;
    }
    close(fd);
    return snapshot;
}

} // namespace tool
} // namespace okr
