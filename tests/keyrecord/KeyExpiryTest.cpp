#include "keyrecord/KeyExpiry.h"

#include <gtest/gtest.h>

namespace zarn {
namespace {

using namespace std::chrono;

TEST(KeyExpiry, MonthAndYearToTheLastValidDay) {
    const std::pair<const char*, const char*> cases[] = {
        {"1229", "2029-12-31"},           {"0224", "2024-02-29"},           {"0223", "2023-02-28"},
        {"0200", "2000-02-29"},           {"0100", "2000-01-31"},           {"1299", "2099-12-31"},
        {"0430", "2030-04-30"},           {"0000", "not a month and year"}, {"1329", "not a month and year"},
        {"12a9", "not a month and year"}, {"122", "not a month and year"},  {"12290", "not a month and year"},
        {"", "not a month and year"},
    };
    for (const auto& [expDate, expected] : cases)
        EXPECT_EQ(KeyExpiresOnText(expDate), expected) << expDate;
}

TEST(KeyExpiry, DaysAcrossMonthAndYearEnds) {
    const year_month_day end{year{2029} / December / 31};
    EXPECT_EQ(DaysUntilExpiry(end, end), 0);
    EXPECT_EQ(DaysUntilExpiry(end, year{2030} / January / 1), -1);
    EXPECT_EQ(DaysUntilExpiry(end, year{2028} / December / 31), 365);
    EXPECT_EQ(DaysUntilExpiry(year{2024} / February / 29, year{2024} / January / 31), 29);
}

} // namespace
} // namespace zarn
