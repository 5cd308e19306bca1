#ifndef OKR_IPC_SHAREDEXCEPTION_H
#define OKR_IPC_SHAREDEXCEPTION_H

#include "Export.h"

#include <exception>

namespace okr {
namespace ipc {

// The only exception that leaves the library. It carries a pointer to a
// message of static storage, so copying it while it is in flight can never
// fail and never allocates.
class OKR_API SharedException : public std::exception {
public:
    explicit SharedException(const char* text) noexcept;
    ~SharedException() override;

    const char* what() const noexcept override;

private:
    const char* message;
};

} // namespace ipc
} // namespace okr

#endif
