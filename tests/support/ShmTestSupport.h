#ifndef OKR_TESTS_SHMTESTSUPPORT_H
#define OKR_TESTS_SHMTESTSUPPORT_H

// Looks at named blocks with plain Boost.Interprocess calls, independent of
// the library under test, so a fault in the library cannot hide itself.

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace okr {
namespace testing {

// A name no other test, test process or earlier run uses.
std::string uniqueName(const std::string& tag);

bool blockExists(const std::string& name);
std::size_t blockSize(const std::string& name);
std::vector<unsigned char> readBlock(const std::string& name);
// Creates (or replaces the content of) a block holding exactly these bytes.
void writeBlock(const std::string& name, const std::vector<unsigned char>& bytes);
void removeBlock(const std::string& name);

// Removes the named block when the test ends, however it ends.
class BlockCleanup {
public:
    explicit BlockCleanup(std::string blockName) : name(std::move(blockName)) {}
    ~BlockCleanup() { removeBlock(name); }
    BlockCleanup(const BlockCleanup&) = delete;
    BlockCleanup& operator=(const BlockCleanup&) = delete;

private:
    std::string name;
};

} // namespace testing
} // namespace okr

#endif
