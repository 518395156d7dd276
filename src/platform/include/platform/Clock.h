// The clock services: counters that seed the pseudo-random generator, today's date, and the local
// time as text.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace zarn {

// The low 32 bits of the high-resolution counter (monotonic nanoseconds).
std::uint32_t HighResolutionCounterLow32();

// Milliseconds since the system started, modulo 2^32.
std::uint32_t TickCountMs();

// Today's date in the local time zone.
std::chrono::year_month_day LocalDate();

// The current local time in the long time format, "hh:mm:ss" (24 hours).
std::string LongTimeText();

} // namespace zarn
