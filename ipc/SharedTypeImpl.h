#ifndef OKR_IPC_SHAREDTYPEIMPL_H
#define OKR_IPC_SHAREDTYPEIMPL_H

#include <boost/interprocess/mapped_region.hpp>
#include <boost/interprocess/shared_memory_object.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

namespace okr {
namespace ipc {

// Private state of SharedTypeBase. Members are declared so that destruction
// unmaps the view before it closes the block's handle.
class SharedTypeImpl {
public:
    SharedTypeImpl(const std::string& blockName, std::int32_t accessMode);

    bool create(std::size_t size);

    void* address = nullptr;
    std::int32_t mode;
    std::string name;
    boost::interprocess::shared_memory_object shm;
    boost::interprocess::mapped_region region;
};

} // namespace ipc
} // namespace okr

#endif
