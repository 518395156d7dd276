// The system's texts are 8-bit: each byte is the character of the same code (Latin-1). These turn
// them into UTF-8 for a terminal or JSON, and back.
#pragma once

#include <optional>
#include <string>

namespace zarn {

// Each byte becomes the Unicode character of the same code, encoded in UTF-8.
std::string Latin1ToUtf8(const std::string& text);

// The reverse of Latin1ToUtf8; nothing when `text` is not UTF-8 or holds a character above 255.
std::optional<std::string> Utf8ToLatin1(const std::string& text);

// A message for display: messages may carry file names, which are UTF-8 bytes from the operating
// system, next to 8-bit texts. A message that is valid UTF-8 is returned as it is, any other is
// read as Latin-1.
std::string MessageToUtf8(const std::string& message);

} // namespace zarn
