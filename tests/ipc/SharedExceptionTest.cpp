#include "ipc/SharedException"
#include "ipc/SharedRecord"
#include "ipc/SharedType"
#include "support/ShmTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <exception>
#include <iterator>
#include <string>
#include <type_traits>
#include <utility>

namespace {

using okr::ipc::SharedException;
using okr::ipc::SharedTypeBase;

static_assert(std::is_base_of<std::exception, SharedException>::value, "caught as std::exception");

TEST(SharedException, FailedOpenReadsExactlyCannotOpenSharedMemory)
{
    SharedTypeBase reader(okr::testing::uniqueName("nothing"), 0);
    try {
        reader.create(16);
        FAIL() << "opening a missing block must throw";
    } catch (const SharedException& e) {
        EXPECT_STREQ("Cannot open shared memory", e.what());
    }
}

TEST(SharedException, StdExceptionHandlerReceivesTheSameText)
{
    SharedTypeBase reader(okr::testing::uniqueName("nothing"), 0);
    try {
        reader.create(16);
        FAIL() << "opening a missing block must throw";
    } catch (const std::exception& e) {
        EXPECT_NE(nullptr, dynamic_cast<const SharedException*>(&e));
        EXPECT_STREQ("Cannot open shared memory", e.what());
    }
}

TEST(SharedException, CopyInFlightSharesTheStaticText)
{
    static const char text[] = "static text";
    const char* seen = nullptr;
    try {
        throw SharedException(text);
    } catch (const SharedException& e) {
        const SharedException copy(e); // NOLINT(performance-unnecessary-copy-initialization): the copy is the point
        seen = copy.what();
    }
    EXPECT_EQ(text, seen) << "the pointer is kept, never copied into new storage";
}

TEST(SharedException, NoBoostExceptionCrossesTheInterface)
{
    SharedTypeBase writer(std::string(5000, 'x'), 1);
    EXPECT_THROW(writer.create(8), SharedException);
}

// By the text, wherever it lives (a program's own copy, a literal); in the
// order of SharedError, then one text that is none of them.
TEST(SharedException, EachTextHasItsCode)
{
    namespace text = okr::ipc::recordError;
    const char* const texts[] = {text::cannotOpen, text::refusedName,  text::nameMissing, text::nameExists,
                                 text::otherSize,  text::accessDenied, text::noSpace,     text::ownerAlive};
    for (int code = 0; code < static_cast<int>(std::size(texts)); ++code) {
        EXPECT_EQ(code, static_cast<int>(SharedException(std::string(texts[code]).c_str()).code())) << texts[code];
    }
    EXPECT_EQ(okr::ipc::SharedError::cannotOpen, SharedException("Shared memory name refused ").code());
}

} // namespace
