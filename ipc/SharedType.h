#ifndef OKR_IPC_SHAREDTYPE_H
#define OKR_IPC_SHAREDTYPE_H

#include "Export.h"
#include "SharedException.h"

#include <cstddef>
#include <new>
#include <string>
#include <type_traits>

namespace okr {
namespace ipc {

class SharedTypeImpl;

// A named, fixed-size block of shared memory. Mode 1 is the creating side
// (open or create, read-write, resizing a block of another size); any other
// mode opens an existing block read-only.
//
// Every destruction removes the block's name: the creating side's, a
// read-only opener's, and one whose create() failed or was never called.
// The first reader that ends makes the record unreachable for every later
// opener. This class stays as it is for the check and its peers; new code
// uses SharedRecord<T> (ipc/SharedRecord), where only the creator removes
// the name and a block of another size is an error, never resized.
//
// While it maps a block it holds the block's user lock (okr(3), Locks),
// so that tools see the block in use; one that meets someone deciding the
// block is unused waits a moment for it.
//
// The destructor is deliberately not virtual: objects are always deleted
// through their exact type, and the layout is shared with other processes'
// builds of this class.
class OKR_API SharedTypeBase {
public:
    SharedTypeBase(const std::string& name, int mode);
    ~SharedTypeBase();

    SharedTypeBase(const SharedTypeBase&) = delete;
    SharedTypeBase& operator=(const SharedTypeBase&) = delete;

    // Creates or opens the block and maps all of it. Every failure throws
    // SharedException; the result is true whenever the call returns.
    virtual bool create(std::size_t size);

    void* address() const;
    std::string name() const;

protected:
    bool isCreatingSide() const;
    std::size_t mappedSize() const;

private:
    SharedTypeImpl* impl;
};

// One record of type T at the start of a named block. T must be plain data
// whose default constructor writes only what it means to write: the record
// is constructed over bytes other processes may already have filled.
template <class T>
class SharedType final : public SharedTypeBase {
    static_assert(std::is_trivially_destructible<T>::value,
                  "a shared record ends with its mapping; its destructor never runs");

public:
    SharedType(const std::string& name, int mode) : SharedTypeBase(name, mode) {}

    bool create()
    {
        if (!SharedTypeBase::create(sizeof(T))) {
            return false;
        }
        if (!isCreatingSide()) {
            // A read-only view cannot take a constructor's writes, and a short
            // block would hand out a record running past the mapping.
            if (mappedSize() < sizeof(T)) {
                throw SharedException("Cannot open shared memory");
            }
            data = static_cast<T*>(address());
            return true;
        }
        // Default-initialisation, not T(): value-initialising a type without a
        // user-provided constructor would zero the whole block first.
        data = ::new (address()) T;
        return true;
    }

    // The record in the mapped view, or null before a successful create().
    T* record() const { return data; }

private:
    T* data = nullptr;
};

} // namespace ipc
} // namespace okr

#endif
