#ifndef OKR_IPC_SHAREDRECORD_H
#define OKR_IPC_SHAREDRECORD_H

#include "Export.h"
#include "SharedException.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <type_traits>

namespace okr {
namespace ipc {

// What SharedRecord's SharedException::what() returns, one text per cause, so
// that a caller can tell "not there yet" from "never will be" with strcmp.
namespace recordError {
inline constexpr char refusedName[] = "Shared memory name refused";
inline constexpr char nameMissing[] = "Shared memory name does not exist";
inline constexpr char nameExists[] = "Shared memory name already exists";
inline constexpr char otherSize[] = "Shared memory block has another size";
inline constexpr char accessDenied[] = "Access to shared memory denied";
inline constexpr char noSpace[] = "No space left for shared memory";
inline constexpr char ownerAlive[] = "Shared memory record has a live owner";
inline constexpr char cannotOpen[] = "Cannot open shared memory"; // any other cause
} // namespace recordError

// Who may open a record that create or openOrCreate makes, whatever the
// umask: the creating user only, the user and its group, or every user.
enum class RecordAccess { user, group, everyone };

class RecordBlockImpl;

// The part of SharedRecord<T> that does not depend on T: one named block of
// an exact size, mapped whole. SharedRecord<T> is the interface; this class is
// public only because the inline template calls it.
class OKR_API RecordBlock {
public:
    using Construct = void (*)(void* storage);

    static RecordBlock create(const std::string& name, std::size_t size, Construct construct, RecordAccess access);
    static RecordBlock openOrCreate(const std::string& name, std::size_t size, Construct construct,
                                    RecordAccess access);
    static RecordBlock open(const std::string& name, std::size_t size, bool readOnly);
    // open, waiting up to timeoutMs for the name to appear.
    static RecordBlock openWaiting(const std::string& name, std::size_t size, bool readOnly, std::int64_t timeoutMs);
    static RecordBlock takeOver(const std::string& name, std::size_t size);
    static bool remove(const std::string& name);

    // The interface of 0.3.0, kept for the programs built against it: their
    // records stay open to every user, as they were then.
    static RecordBlock create(const std::string& name, std::size_t size, Construct construct);
    static RecordBlock openOrCreate(const std::string& name, std::size_t size, Construct construct);

    RecordBlock(RecordBlock&& other) noexcept;
    RecordBlock& operator=(RecordBlock&& other) noexcept;
    RecordBlock(const RecordBlock&) = delete;
    RecordBlock& operator=(const RecordBlock&) = delete;
    ~RecordBlock();

    // The mapped block, or null once moved from.
    void* address() const noexcept;
    // Whether the name still means this block (false once moved from).
    bool isCurrent() const;

private:
    explicit RecordBlock(RecordBlockImpl* state) noexcept;

    RecordBlockImpl* impl;
};

// One record of type T, alone in a named block of shared memory of exactly
// sizeof(T) bytes, shared by cooperating processes. Unlike SharedType<T>,
// only the object that create() returned removes the name when it ends;
// openers never do. A block of another size is never resized or written,
// and no opener ever maps a record whose constructor has not finished (see
// okr(3)). Every failure is a SharedException whose what() is one of
// recordError's texts.
template <class T>
class SharedRecord {
    using Plain = std::remove_cv_t<T>;
    static_assert(std::is_trivially_copyable<Plain>::value && std::is_standard_layout<Plain>::value,
                  "SharedRecord<T> needs a trivially copyable, standard-layout T: other processes (also 32-bit "
                  "ones) read its raw bytes, so it can hold no vtable, no owning member such as std::string, "
                  "no destructor that would have to run");
    static_assert(!std::is_volatile<T>::value, "SharedRecord<T> takes no volatile T");

    template <class U>
    friend class SharedRecord;

public:
    // A new block under a name that must not exist yet; T is constructed once,
    // before any other process can open the name. The returned object owns the
    // name: its destruction removes it.
    static SharedRecord create(const std::string& name, RecordAccess access = RecordAccess::user)
    {
        static_assert(!std::is_const<T>::value, "a read-only record is opened with openReadOnly, never created");
        return SharedRecord(RecordBlock::create(name, sizeof(T), &construct, access));
    }

    // The existing block of a dead owner, now owned by this object, its
    // contents kept: the readers that map it carry on. Fails with
    // recordError::ownerAlive while its owner lives.
    static SharedRecord takeOver(const std::string& name)
    {
        static_assert(!std::is_const<T>::value, "a read-only record is opened with openReadOnly");
        return SharedRecord(RecordBlock::takeOver(name, sizeof(T)));
    }

    // The existing block of exactly sizeof(T) bytes, or a new one whose T only
    // this call constructs. Never owns the name, whoever created the block.
    static SharedRecord openOrCreate(const std::string& name, RecordAccess access = RecordAccess::user)
    {
        static_assert(!std::is_const<T>::value, "a read-only record is opened with openReadOnly");
        return SharedRecord(RecordBlock::openOrCreate(name, sizeof(T), &construct, access));
    }

    // An existing block of exactly sizeof(T) bytes, read-write. Never owns the name.
    static SharedRecord open(const std::string& name)
    {
        static_assert(!std::is_const<T>::value, "a read-only record is opened with openReadOnly");
        return SharedRecord(RecordBlock::open(name, sizeof(T), false));
    }

    // The same, waiting up to timeout for the name to appear (without
    // polling); recordError::nameMissing when it did not.
    static SharedRecord open(const std::string& name, std::chrono::milliseconds timeout)
    {
        static_assert(!std::is_const<T>::value, "a read-only record is opened with openReadOnly");
        return SharedRecord(RecordBlock::openWaiting(name, sizeof(T), false, timeout.count()));
    }

    // An existing block of exactly sizeof(T) bytes, mapped read-only: get()
    // gives const T*. Never owns the name.
    static SharedRecord<const Plain> openReadOnly(const std::string& name)
    {
        return SharedRecord<const Plain>(RecordBlock::open(name, sizeof(T), true));
    }

    static SharedRecord<const Plain> openReadOnly(const std::string& name, std::chrono::milliseconds timeout)
    {
        return SharedRecord<const Plain>(RecordBlock::openWaiting(name, sizeof(T), true, timeout.count()));
    }

    // Removes a name explicitly (a record whose owner crashed, say). Processes
    // that map the block keep it; true when a name was removed, false when
    // there was none.
    static bool remove(const std::string& name) { return RecordBlock::remove(name); }

    // The record, or null once moved from.
    T* get() const noexcept { return static_cast<T*>(block.address()); }
    T* operator->() const noexcept { return get(); }
    T& operator*() const noexcept { return *get(); }

    // Whether name still means the block this object maps: false once
    // someone removed it, or removed it and made another under it.
    bool isCurrent() const { return block.isCurrent(); }

private:
    explicit SharedRecord(RecordBlock opened) noexcept : block(static_cast<RecordBlock&&>(opened)) {}

    // Value-initialised: the fresh block is zero already, so members without
    // an initialiser read 0 in every process.
    static void construct(void* storage) { ::new (storage) Plain(); }

    RecordBlock block;
};

} // namespace ipc
} // namespace okr

#endif
