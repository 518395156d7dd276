#include "encoding/UTHHexUtilities.h"

namespace zarn {

std::string BytesToHex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 15]);
    }
    return text;
}

std::string HexToBytes(const std::string& text) {
    std::string bytes;
    bytes.reserve(text.size() / 2);
    std::size_t cursor = 0;
    while (cursor + 1 < text.size()) {
        if (IsHexDigit(text[cursor]) && IsHexDigit(text[cursor + 1])) {
            bytes.push_back(
                static_cast<char>(16 * HexDigitValue(text[cursor]) + HexDigitValue(text[cursor + 1])));
            cursor += 2;
        } else {
            cursor += 1;
        }
    }
    return bytes;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

std::int32_t HexDigitValue(char c) {
    if (c >= 'a' && c <= 'z')
        c = static_cast<char>(c - 'a' + 'A');
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}

bool HexHasHighBit(const std::string& text) {
    if (text.empty())
        return false;
    char first = text[0];
    if (first >= 'a' && first <= 'z')
        first = static_cast<char>(first - 'a' + 'A');
    return (first >= '8' && first <= '9') || (first >= 'A' && first <= 'F');
}

} // namespace zarn
