#include "keyrecord/KeyExpiry.h"

#include <algorithm>
#include <cstdio>

namespace zarn {

std::optional<std::chrono::year_month_day> KeyExpiresOn(const std::string& expDate) {
    if (expDate.size() != 4 ||
        !std::all_of(expDate.begin(), expDate.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const unsigned month = static_cast<unsigned>((expDate[0] - '0') * 10 + (expDate[1] - '0'));
    const int year = 2000 + (expDate[2] - '0') * 10 + (expDate[3] - '0');
    if (month < 1 || month > 12)
        return std::nullopt;
    return std::chrono::year_month_day{std::chrono::year{year} / std::chrono::month{month} /
                                       std::chrono::last};
}

std::string KeyExpiresOnText(const std::string& expDate) {
    const std::optional<std::chrono::year_month_day> expiresOn = KeyExpiresOn(expDate);
    if (!expiresOn)
        return "not a month and year";
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(expiresOn->year()),
                  static_cast<unsigned>(expiresOn->month()), static_cast<unsigned>(expiresOn->day()));
    return text;
}

int DaysUntilExpiry(std::chrono::year_month_day expiresOn, std::chrono::year_month_day today) {
    return static_cast<int>((std::chrono::sys_days{expiresOn} - std::chrono::sys_days{today}).count());
}

} // namespace zarn
