#include "tools/common/number_list.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>

namespace {

using zyn::tools::ParseNumberList;
using zyn::tools::ParsePropertyValues;

TEST(NumberList, ReadsEveryFieldInAnyIntegerNotation) {
    EXPECT_EQ(ParseNumberList("7", 0, 10), (std::vector<long long>{7}));
    EXPECT_EQ(ParseNumberList("-2,0x1f,017,+4", -5, 100), (std::vector<long long>{-2, 31, 15, 4}));
    EXPECT_EQ(ParseNumberList("-5,100", -5, 100), (std::vector<long long>{-5, 100}));
}

TEST(NumberList, RefusesEveryMalformedList) {
    const char* const bad[] = {
        "",
        ",",
        "1,",
        ",1",
        "1,,2",
        "1,2,3,4,",
        "x",
        "1,x",
        "1.5",
        "1 ,2",
        "1e3",
        "0x",
        "--1",
        "101",
        "-6",
        "1,101",
        "1;2",
        "[1,2]",
        "99999999999999999999",
        "-99999999999999999999",
        "0x7fffffffffffffff",
    };
    for (const char* text : bad) {
        EXPECT_FALSE(ParseNumberList(text, -5, 100)) << '"' << text << '"';
    }
    std::printf("%zu malformed lists refused\n", std::size(bad));
}

TEST(NumberList, PropertyValuesTakeSignedAndUnsigned32BitNumbers) {
    EXPECT_EQ(ParsePropertyValues("0xFFFFFFFF,-1,4294967295,-2147483648,2147483647"),
              (std::vector<int32_t>{-1, -1, -1, INT32_MIN, INT32_MAX}));
    EXPECT_FALSE(ParsePropertyValues("4294967296"));
    EXPECT_FALSE(ParsePropertyValues("-2147483649"));
    EXPECT_FALSE(ParsePropertyValues("0,0,64,64,"));
}

} // namespace
