// Integer and text conversions of the platform, with its rules and its German error text.
#pragma once

#include <cstdint>
#include <string>

namespace zarn {

// Decimal text of `value`, a minus sign in front of a negative value, no leading zeros.
std::string IntToStr(std::int64_t value);

// Upper-case hexadecimal text of `value`, at least `digits` digits (padded with 0 on the left).
// A negative value is written as its 32-bit two's complement, as the platform does for an Integer.
std::string IntToHex(std::int64_t value, int digits);

// `text` with a..z turned into A..Z; every other byte unchanged.
std::string UpperCase(const std::string& text);

// `text` without the characters of code 32 and below at both ends.
std::string Trim(const std::string& text);

// Reads a 32-bit signed integer: optional leading blanks (code 32), an optional sign, then either
// decimal digits or a "$", "x", "X", "0x" or "0X" prefix followed by hexadecimal digits (either
// case), and nothing after the digits. Raises EConvertError with
// "'<text>' ist kein gültiger Integerwert" for an empty text, any other character, trailing blanks
// and a value outside -2147483648 .. 2147483647.
std::int32_t StrToInt(const std::string& text);

// As StrToInt, but reports a rejection as false instead of raising; `value` is then unchanged.
bool TryStrToInt(const std::string& text, std::int32_t& value);

// The text of the conversion error for `text`.
std::string InvalidIntegerMessage(const std::string& text);

} // namespace zarn
