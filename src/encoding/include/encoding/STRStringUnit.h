// Clean-up of typed text.
#pragma once

#include <cstdint>
#include <string>

namespace zarn {

// `text` without its blanks (code 32) and no-break spaces (code 160); tabs and line breaks stay.
std::string RemoveBlanks(const std::string& text);

// `text` with `fill` put in front until it has at least `minimumLength` characters; never cut.
std::string PadLeft(char fill, const std::string& text, std::int32_t minimumLength);

} // namespace zarn
