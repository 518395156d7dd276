// The text helpers and the platform's text-to-integer conversion on arbitrary bytes, each against an
// independent reference written here. The conversion must accept or raise EConvertError with its
// text, never anything else.
#include "encoding/STRStringUnit.h"
#include "encoding/UTCompressedNumeric.h"
#include "encoding/UTHHexUtilities.h"
#include "platform/Conversions.h"
#include "platform/Errors.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

bool Hex(unsigned char c) {
    return std::isxdigit(c) != 0;
}
int Nibble(unsigned char c) {
    return std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10;
}

std::string ReferenceHexToBytes(const std::string& text) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < text.size();) {
        const auto a = static_cast<unsigned char>(text[i]);
        const auto b = static_cast<unsigned char>(text[i + 1]);
        if (Hex(a) && Hex(b)) {
            bytes.push_back(static_cast<char>(Nibble(a) * 16 + Nibble(b)));
            i += 2;
        } else {
            ++i;
        }
    }
    return bytes;
}

// The conversion's grammar: blanks, a sign, a hexadecimal prefix or none, digits, the end.
std::optional<std::int32_t> ReferenceStrToInt(const std::string& text) {
    std::size_t i = text.find_first_not_of(' ');
    if (i == std::string::npos)
        return std::nullopt;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-')
        negative = text[i++] == '-';
    int base = 10;
    if (text.compare(i, 1, "$") == 0 || text.compare(i, 1, "x") == 0 || text.compare(i, 1, "X") == 0) {
        base = 16;
        i += 1;
    } else if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        return std::nullopt;
    long double value = 0; // exact enough: anything beyond 2^31 is rejected below
    for (; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (base == 10 ? !std::isdigit(c) : !Hex(c))
            return std::nullopt;
        value = value * base + Nibble(c);
        if (value > 4294967296.0L)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value < -2147483648.0L || value > 2147483647.0L)
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    Check(zarn::HexToBytes(input) == ReferenceHexToBytes(input), "HexToBytes");
    Check(zarn::HexToBytes(zarn::BytesToHex(input)) == input, "hex round trip");

    std::string digits = "unchanged";
    Check(zarn::TUTCompressedNumeric(0).CompressedToString(input, digits) == 0, "packed decimal status");
    std::string expected = zarn::BytesToHex(input);
    if (!expected.empty() && expected.back() == 'F')
        expected.pop_back();
    Check(digits == expected, "packed decimal digits");

    std::string blanksRemoved;
    for (const char c : input)
        if (c != ' ' && c != '\xA0')
            blanksRemoved.push_back(c);
    Check(zarn::RemoveBlanks(input) == blanksRemoved, "RemoveBlanks");

    const std::optional<std::int32_t> reference = ReferenceStrToInt(input);
    try {
        const std::int32_t value = zarn::StrToInt(input);
        Check(reference.has_value() && *reference == value, "StrToInt accepts only what it should");
    } catch (const zarn::EConvertError& error) {
        Check(!reference.has_value(), "StrToInt rejects only what it should");
        Check(error.Message() == "'" + input +
                                     "' ist kein g\xFC"
                                     "ltiger Integerwert",
              "the conversion's text");
    }
    return 0;
}
