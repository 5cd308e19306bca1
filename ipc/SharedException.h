#ifndef OKR_IPC_SHAREDEXCEPTION_H
#define OKR_IPC_SHAREDEXCEPTION_H

#include "Export.h"

#include <exception>

namespace okr {
namespace ipc {

// What went wrong, for callers that switch rather than compare texts; each
// value stands for one of the texts that what() returns.
enum class SharedError {
    cannotOpen,   // "Cannot open shared memory", and any text not below
    refusedName,  // "Shared memory name refused"
    nameMissing,  // "Shared memory name does not exist"
    nameExists,   // "Shared memory name already exists"
    otherSize,    // "Shared memory block has another size"
    accessDenied, // "Access to shared memory denied"
    noSpace,      // "No space left for shared memory"
    ownerAlive,   // "Shared memory record has a live owner"
};

// The only exception that leaves the library. It carries a pointer to a
// message of static storage, so copying it while it is in flight can never
// fail and never allocates.
class OKR_API SharedException : public std::exception {
public:
    explicit SharedException(const char* text) noexcept;
    ~SharedException() override;

    const char* what() const noexcept override;
    SharedError code() const noexcept;

private:
    const char* message;
};

} // namespace ipc
} // namespace okr

#endif
