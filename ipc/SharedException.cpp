#include "SharedException.h"
#include "SharedRecord.h"

#include <cstring>

namespace okr {
namespace ipc {

SharedException::SharedException(const char* text) noexcept : message(text) {}

// Out of line so the vtable has one home.
SharedException::~SharedException() = default;

const char* SharedException::what() const noexcept { return message; }

// From the text, not a member: the object keeps the layout of 0.3.0, which
// programs built against it allocate and copy themselves.
SharedError SharedException::code() const noexcept
{
    struct Entry {
        const char* text;
        SharedError code;
    };
    static const Entry known[] = {
        {recordError::refusedName, SharedError::refusedName},   {recordError::nameMissing, SharedError::nameMissing},
        {recordError::nameExists, SharedError::nameExists},     {recordError::otherSize, SharedError::otherSize},
        {recordError::accessDenied, SharedError::accessDenied}, {recordError::noSpace, SharedError::noSpace},
        {recordError::ownerAlive, SharedError::ownerAlive},
    };
    for (const Entry& entry : known) {
        if (std::strcmp(message, entry.text) == 0) {
            return entry.code;
        }
    }
    return SharedError::cannotOpen;
}

} // namespace ipc
} // namespace okr
