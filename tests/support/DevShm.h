#ifndef OKR_TESTS_DEVSHM_H
#define OKR_TESTS_DEVSHM_H

// The check's objects as an operator sees them on Linux: files in /dev/shm.

#include "common/RecordName"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace okr {
namespace testing {

inline bool shmExists(const std::string& name)
{
    struct stat info;
    return stat(("/dev/shm/" + name).c_str(), &info) == 0;
}

inline long long shmSize(const std::string& name)
{
    struct stat info;
    return stat(("/dev/shm/" + name).c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

// The information record's name for a run of the check as this user.
inline std::string expectedInfoName(pid_t pid, uid_t uid)
{
    const passwd* user = getpwuid(uid);
    return common::infoRecordName(static_cast<std::int32_t>(pid), user ? user->pw_name : "", "okr-info-");
}

} // namespace testing
} // namespace okr

#endif
