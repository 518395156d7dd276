// Bytes to hexadecimal text and back. Byte strings are std::string, one byte per character.
#pragma once

#include <cstdint>
#include <string>

namespace zarn {

// Each byte as two upper-case hexadecimal digits, high digit first; twice as long as `bytes`.
std::string BytesToHex(const std::string& bytes);

// Pairs adjacent hexadecimal digits (either case) into bytes, left to right. A character that is not
// a hexadecimal digit is skipped and pairing starts again after it, so a digit standing alone
// between non-digits and a final unpaired digit are dropped.
std::string HexToBytes(const std::string& text);

// True for 0..9, A..F and a..f.
bool IsHexDigit(char c);

// 0..15 for a hexadecimal digit (either case); 0 for any other character.
std::int32_t HexDigitValue(char c);

// True when the first character (taken upper case) is 8..9 or A..F: the top bit of the first byte
// that the text encodes is set. False for an empty text.
bool HexHasHighBit(const std::string& text);

} // namespace zarn
