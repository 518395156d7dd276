#include "platform/Conversions.h"
#include "platform/Errors.h"

#include <gtest/gtest.h>

#include <climits>

namespace zarn {
namespace {

TEST(Conversions, IntToStrAndHex) {
    EXPECT_EQ(IntToStr(0), "0");
    EXPECT_EQ(IntToStr(-17), "-17");
    EXPECT_EQ(IntToStr(INT32_MIN), "-2147483648");
    EXPECT_EQ(IntToHex(255, 2), "FF");
    EXPECT_EQ(IntToHex(5, 4), "0005");
    EXPECT_EQ(IntToHex(0xABCDE, 2), "ABCDE");
    EXPECT_EQ(IntToHex(-1, 2), "FFFFFFFF");
}

TEST(Conversions, UpperCaseAndTrim) {
    EXPECT_EQ(UpperCase("abz09AZ\xE4"), "ABZ09AZ\xE4");
    EXPECT_EQ(Trim(" \t\r\n ab c \x01\x20"), "ab c");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0"); // only codes 32 and below are trimmed
}

struct AcceptedCase {
    const char* text;
    std::int32_t value;
};

TEST(Conversions, StrToIntAccepts) {
    const AcceptedCase cases[] = {
        {"0", 0},
        {"128", 128},
        {"  42", 42},
        {"+7", 7},
        {"-5", -5},
        {"007", 7},
        {"$80", 128},
        {"$ff", 255},
        {"x1A", 26},
        {"X1a", 26},
        {"0x10", 16},
        {"0X10", 16},
        {"-$10", -16},
        {" -0x7fffffff", -2147483647},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"$7FFFFFFF", 2147483647},
        {"-$80000000", INT32_MIN},
        {"0000000000000000000012", 12},
    };
    for (const AcceptedCase& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(StrToInt(c.text), c.value);
    }
}

TEST(Conversions, StrToIntRejectsWithTheGermanText) {
    const char* rejected[] = {"",
                              " ",
                              "-",
                              "+",
                              "$",
                              "0x",
                              "x",
                              "12 ",
                              "1 2",
                              "abc",
                              "12a",
                              "--1",
                              "+-1",
                              "\t12",
                              "1.0",
                              "2147483648",
                              "-2147483649",
                              "$80000000",
                              "0x1G",
                              "$-1",
                              "99999999999999999999",
                              "\xA0"
                              "1"};
    for (const char* text : rejected) {
        SCOPED_TRACE(std::string("text: '") + text + "'");
        try {
            StrToInt(text);
            ADD_FAILURE() << "accepted";
        } catch (const EConvertError& error) {
            EXPECT_EQ(error.Message(), std::string("'") + text +
                                           "' ist kein g\xFC"
                                           "ltiger Integerwert");
        }
        std::int32_t value = 99;
        EXPECT_FALSE(TryStrToInt(text, value));
        EXPECT_EQ(value, 99);
    }
}

TEST(Conversions, RejectedTextIsQuotedWhole) {
    const std::string text("1\0002", 3);
    try {
        StrToInt(text);
        FAIL() << "accepted";
    } catch (const EConvertError& error) {
        EXPECT_EQ(error.Message(), "'" + text +
                                       "' ist kein g\xFC"
                                       "ltiger Integerwert");
    }
}

TEST(Errors, AssertionNamesSourceAndLine) {
    const int line = __LINE__ + 2;
    try {
        ZARN_ASSERT(1 + 1 == 3, "Check: arithmetic.", "Common\\Unit");
        FAIL() << "no assertion raised";
    } catch (const EAssertionFailed& error) {
        EXPECT_EQ(error.Message(), "Check: arithmetic. (Common\\Unit, line " + std::to_string(line) + ")");
    }
    EXPECT_EQ(EDivByZero().Message(), "Division durch Null");
}

} // namespace
} // namespace zarn
