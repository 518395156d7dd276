#include "platform/TextEncoding.h"

namespace zarn {

namespace {

// Length of the UTF-8 sequence at `pos` with its code point, or 0 when it is malformed.
std::size_t DecodeUtf8(const std::string& text, std::size_t pos, char32_t& codePoint) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    std::size_t length = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2, codePoint = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, codePoint = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, codePoint = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (pos + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (byte(pos + i) & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

bool IsUtf8(const std::string& text) {
    char32_t codePoint = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = DecodeUtf8(text, pos, codePoint);
        if (length == 0)
            return false;
        pos += length;
    }
    return true;
}

} // namespace

std::string Latin1ToUtf8(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x80) {
            result.push_back(c);
        } else {
            result.push_back(static_cast<char>(0xC0 | (code >> 6)));
            result.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return result;
}

std::optional<std::string> Utf8ToLatin1(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    char32_t codePoint = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t length = DecodeUtf8(text, pos, codePoint);
        if (length == 0 || codePoint > 0xFF)
            return std::nullopt;
        result.push_back(static_cast<char>(codePoint));
        pos += length;
    }
    return result;
}

std::string MessageToUtf8(const std::string& message) {
    return IsUtf8(message) ? message : Latin1ToUtf8(message);
}

} // namespace zarn
