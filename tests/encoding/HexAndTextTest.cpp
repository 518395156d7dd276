#include "encoding/STRStringUnit.h"
#include "encoding/UTHHexUtilities.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace zarn {
namespace {

TEST(HexUtilities, BytesToHex) {
    EXPECT_EQ(BytesToHex(std::string("\x00\xAB\xFF", 3)), "00ABFF");
    EXPECT_EQ(BytesToHex(""), "");
    std::string all;
    for (int c = 0; c < 256; ++c)
        all.push_back(static_cast<char>(c));
    const std::string hex = BytesToHex(all);
    ASSERT_EQ(hex.size(), 512u);
    EXPECT_EQ(hex.substr(0, 6), "000102");
    EXPECT_EQ(hex.substr(2 * 0x9F, 4), "9FA0");
    EXPECT_EQ(hex.substr(508), "FEFF");
}

TEST(HexUtilities, HexToBytesPairsAdjacentDigits) {
    struct Case {
        std::string text;
        std::string bytes;
    };
    const Case cases[] = {
        {"0aFf", std::string("\x0A\xFF", 2)},
        {"12 34", "\x12\x34"},
        {"1 234", "\x23"}, // the lone 1 and the final 4 are dropped
        {"ABC", "\xAB"},
        {"", ""},
        {"7", ""},
        {"G1", ""},
        {"1G23", "\x23"},
        {"12\xA0"
         "34",
         "\x12\x34"},
        {"--ff--", "\xFF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("text: " + c.text);
        EXPECT_EQ(HexToBytes(c.text), c.bytes);
    }
}

TEST(HexUtilities, RoundTripOnRandomBytes) {
    SCOPED_TRACE(test::SeedTrace());
    auto generator = test::SeededGenerator(1);
    for (std::size_t length = 0; length < 300; length += 7) {
        const std::string bytes = test::RandomBytes(generator, length);
        EXPECT_EQ(HexToBytes(BytesToHex(bytes)), bytes);
        std::string lower = BytesToHex(bytes);
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(HexToBytes(lower), bytes);
    }
}

TEST(HexUtilities, DigitsAndValues) {
    for (int c = 0; c < 256; ++c) {
        const char ch = static_cast<char>(c);
        const bool expected = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        EXPECT_EQ(IsHexDigit(ch), expected) << c;
        if (!expected) {
            EXPECT_EQ(HexDigitValue(ch), 0) << c;
        }
    }
    EXPECT_EQ(HexDigitValue('f'), 15);
    EXPECT_EQ(HexDigitValue('A'), 10);
    EXPECT_EQ(HexDigitValue('9'), 9);
    EXPECT_EQ(HexDigitValue('G'), 0);
    EXPECT_EQ(HexDigitValue(' '), 0);
}

TEST(HexUtilities, HexHasHighBit) {
    EXPECT_FALSE(HexHasHighBit("7FFF"));
    EXPECT_TRUE(HexHasHighBit("80"));
    EXPECT_TRUE(HexHasHighBit("f0"));
    EXPECT_TRUE(HexHasHighBit("9"));
    EXPECT_FALSE(HexHasHighBit(""));
    EXPECT_FALSE(HexHasHighBit("G8"));
    EXPECT_FALSE(HexHasHighBit(" 8"));
}

TEST(StringUnit, RemoveBlanks) {
    EXPECT_EQ(RemoveBlanks("  12  34  "), "1234");
    EXPECT_EQ(RemoveBlanks("12\xA0"
                           "34"),
              "1234");
    EXPECT_EQ(RemoveBlanks("12\t34\r\n"), "12\t34\r\n");
    EXPECT_EQ(RemoveBlanks(""), "");
}

TEST(StringUnit, PadLeft) {
    EXPECT_EQ(PadLeft('0', "5", 2), "05");
    EXPECT_EQ(PadLeft('0', "123", 2), "123");
    EXPECT_EQ(PadLeft('*', "", 3), "***");
    EXPECT_EQ(PadLeft('0', "12", 2), "12");
    EXPECT_EQ(PadLeft('0', "-1", 2), "-1");
    EXPECT_EQ(PadLeft('0', "x", -4), "x");
}

} // namespace
} // namespace zarn
