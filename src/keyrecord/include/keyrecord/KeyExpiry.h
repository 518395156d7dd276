// The end of a key's validity. The record's expiration date is four digits MMYY, month and year: the
// key is valid through the last day of month MM of year 2000 + YY (the sample's 1229 runs to
// 31 December 2029). The record's status does not depend on it; this only reads it.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace zarn {

// The last day on which a key with the expiration date `expDate` is valid, or nothing when the text
// is not four decimal digits with a month from 01 to 12.
std::optional<std::chrono::year_month_day> KeyExpiresOn(const std::string& expDate);

// KeyExpiresOn as text: "2029-12-31", or "not a month and year".
std::string KeyExpiresOnText(const std::string& expDate);

// Days from `today` to `expiresOn`: 0 on the last valid day, negative once the key has expired.
int DaysUntilExpiry(std::chrono::year_month_day expiresOn, std::chrono::year_month_day today);

} // namespace zarn
