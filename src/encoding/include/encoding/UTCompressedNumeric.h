// Compressed numeric (packed decimal) fields: two digits to a byte, high half first, an F filling a
// last half that holds no digit. Only the direction from bytes to digit text exists.
#pragma once

#include <cstdint>
#include <string>

namespace zarn {

class TUTCompressedNumeric {
public:
    // `setting` is kept but not read by the conversion; the import passes 0.
    explicit TUTCompressedNumeric(std::int32_t setting) : m_setting(setting) {}

    // Writes each half of each byte as one upper-case hexadecimal digit, high half first, then
    // removes one final F if the text ends in one. No half is validated. Returns 0.
    std::int32_t CompressedToString(const std::string& packed, std::string& digits) const;

private:
    std::int32_t m_setting;
};

} // namespace zarn
