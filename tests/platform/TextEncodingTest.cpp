#include "platform/TextEncoding.h"

#include <gtest/gtest.h>

namespace zarn {
namespace {

TEST(TextEncoding, Latin1RoundTripsEveryByte) {
    std::string all;
    for (int c = 0; c < 256; ++c)
        all.push_back(static_cast<char>(c));
    const std::string utf8 = Latin1ToUtf8(all);
    EXPECT_EQ(utf8.size(), 128u + 2 * 128u);
    EXPECT_EQ(Utf8ToLatin1(utf8), all);
    EXPECT_EQ(Latin1ToUtf8("\xA0"), "\xC2\xA0");
}

TEST(TextEncoding, RejectsWhatIsNotLatin1) {
    EXPECT_FALSE(Utf8ToLatin1("\xE2\x82\xAC").has_value()); // the euro sign is above 255
    EXPECT_FALSE(Utf8ToLatin1("\xFC").has_value());         // not UTF-8
    EXPECT_FALSE(Utf8ToLatin1("\xC0\x80").has_value());     // overlong
}

TEST(TextEncoding, MessagesKeepUtf8AndConvertLatin1) {
    EXPECT_EQ(MessageToUtf8("File /tmp/\xC3\xBC.key does not exist"),
              "File /tmp/\xC3\xBC.key does not exist");
    EXPECT_EQ(MessageToUtf8("'a' ist kein g\xFCltiger Integerwert"),
              "'a' ist kein g\xC3\xBCltiger Integerwert");
}

} // namespace
} // namespace zarn
