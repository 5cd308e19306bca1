#include "ShmTestSupport.h"

#include <boost/interprocess/exceptions.hpp>
#include <boost/interprocess/mapped_region.hpp>
#include <boost/interprocess/shared_memory_object.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <random>

#ifdef _WIN32
#include <process.h>
#define OKR_GETPID _getpid
#else
#include <unistd.h>
#define OKR_GETPID getpid
#endif

namespace bip = boost::interprocess;

namespace okr {
namespace testing {

std::string uniqueName(const std::string& tag)
{
    static std::atomic<unsigned> counter{0};
    static const unsigned long long salt =
        std::random_device{}() ^
        static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "okrtest-" + std::to_string(OKR_GETPID()) + "-" + std::to_string(salt % 1000000) + "-" +
                       std::to_string(counter++) + "-" + tag;
    if (info != nullptr) {
        name += "-";
        name += info->name();
    }
    // Parameterised test names carry '/', which is no part of a valid name.
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    return name.substr(0, 200);
}

bool blockExists(const std::string& name)
{
    try {
        bip::shared_memory_object shm(bip::open_only, name.c_str(), bip::read_only);
        return true;
    } catch (const bip::interprocess_exception&) {
        return false;
    }
}

std::size_t blockSize(const std::string& name)
{
    bip::shared_memory_object shm(bip::open_only, name.c_str(), bip::read_only);
    bip::offset_t size = 0;
    shm.get_size(size);
    return static_cast<std::size_t>(size);
}

std::vector<unsigned char> readBlock(const std::string& name)
{
    bip::shared_memory_object shm(bip::open_only, name.c_str(), bip::read_only);
    bip::offset_t size = 0;
    shm.get_size(size);
    if (size == 0) {
        return {};
    }
    bip::mapped_region region(shm, bip::read_only);
    const auto* begin = static_cast<const unsigned char*>(region.get_address());
    return std::vector<unsigned char>(begin, begin + region.get_size());
}

void writeBlock(const std::string& name, const std::vector<unsigned char>& bytes)
{
    bip::permissions unrestricted;
    unrestricted.set_unrestricted();
    bip::shared_memory_object shm(bip::open_or_create, name.c_str(), bip::read_write, unrestricted);
    shm.truncate(static_cast<bip::offset_t>(bytes.size()));
    if (bytes.empty()) {
        return;
    }
    bip::mapped_region region(shm, bip::read_write);
    std::memcpy(region.get_address(), bytes.data(), bytes.size());
}

void removeBlock(const std::string& name) { bip::shared_memory_object::remove(name.c_str()); }

} // namespace testing
} // namespace okr
