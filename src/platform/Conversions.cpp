#include "platform/Conversions.h"

#include "platform/Errors.h"

namespace zarn {

namespace {

int DigitValue(char c, int base) {
    int value = 16;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    return value < base ? value : -1;
}

// Length of the hexadecimal prefix at `pos` ("$", "x", "X", "0x", "0X"), 0 when there is none.
std::size_t HexPrefixLength(const std::string& text, std::size_t pos) {
    if (pos < text.size() && (text[pos] == '$' || text[pos] == 'x' || text[pos] == 'X'))
        return 1;
    if (pos + 1 < text.size() && text[pos] == '0' && (text[pos + 1] == 'x' || text[pos + 1] == 'X'))
        return 2;
    return 0;
}

} // namespace

std::string IntToStr(std::int64_t value) {
    return std::to_string(value);
}

std::string IntToHex(std::int64_t value, int digits) {
    static const char hexDigits[] = "0123456789ABCDEF";
    std::uint64_t magnitude =
        value < 0 ? static_cast<std::uint32_t>(value) : static_cast<std::uint64_t>(value);
    std::string text;
    do {
        text.insert(text.begin(), hexDigits[magnitude & 15]);
        magnitude >>= 4;
    } while (magnitude != 0);
    if (static_cast<int>(text.size()) < digits)
        text.insert(0, static_cast<std::size_t>(digits) - text.size(), '0');
    return text;
}

std::string UpperCase(const std::string& text) {
    std::string result = text;
    for (char& c : result)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return result;
}

std::string Trim(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= 32)
        ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= 32)
        --last;
    return text.substr(first, last - first);
}

bool TryStrToInt(const std::string& text, std::int32_t& value) {
    std::size_t pos = 0;
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const std::size_t prefix = HexPrefixLength(text, pos);
    const int base = prefix != 0 ? 16 : 10;
    pos += prefix;
    if (pos == text.size())
        return false;
    // 2^31 is the largest magnitude any accepted text can have (for -2147483648).
    const std::uint64_t limit = negative ? 2147483648ULL : 2147483647ULL;
    std::uint64_t magnitude = 0;
    for (; pos < text.size(); ++pos) {
        const int digit = DigitValue(text[pos], base);
        if (digit < 0)
            return false;
        magnitude = magnitude * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        if (magnitude > limit)
            return false;
    }
    value = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                     : static_cast<std::int32_t>(magnitude);
    return true;
}

std::int32_t StrToInt(const std::string& text) {
    std::int32_t value = 0;
    if (!TryStrToInt(text, value))
        throw EConvertError(InvalidIntegerMessage(text));
    return value;
}

std::string InvalidIntegerMessage(const std::string& text) {
    return "'" + text +
           "' ist kein g\xFC"
           "ltiger Integerwert";
}

} // namespace zarn
