// What show --json writes: a C1 control or a line separator in a value (an
// owner's name may hold one) comes as a \u escape, and nothing around it is
// lost.

#include "tool/output/JsonOutput.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

TEST(JsonOutput, EscapesC1AndLineSeparatorsAndKeepsWhatFollows)
{
    std::ostringstream out;
    okr::tool::printJson({{"owner", "a\xc2\x85"
                                    "b\xe2\x80\xa8"
                                    "c\xc2\xa0"}},
                         out);
    EXPECT_EQ("{\n  \"owner\": \"a\\u0085b\\u2028c\xc2\xa0\"\n}\n", out.str());
}

} // namespace
