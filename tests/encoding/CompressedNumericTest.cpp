#include "encoding/UTCompressedNumeric.h"

#include <gtest/gtest.h>

namespace zarn {
namespace {

TEST(CompressedNumeric, Examples) {
    struct Case {
        std::string packed;
        std::string digits;
    };
    const Case cases[] = {
        {"\x12\x34", "1234"},
        {"\x12\x3F", "123"},
        {"\x12\x34\x56\x78\x9F", "123456789"},
        {"\x12\x34\x5F\xFF\xFF", "12345FFFF"}, // only one F is removed
        {"\xAB\xCD", "ABCD"},                  // halves are not validated
        {"", ""},
        {"\xFF", "F"},
        {"\xF1", "F1"},
        {std::string("\x00\x0F", 2), "000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.digits);
        std::string digits = "previous";
        EXPECT_EQ(TUTCompressedNumeric(0).CompressedToString(c.packed, digits), 0);
        EXPECT_EQ(digits, c.digits);
    }
}

} // namespace
} // namespace zarn
