#include "encoding/UTCompressedNumeric.h"

#include "encoding/UTHHexUtilities.h"

namespace zarn {

std::int32_t TUTCompressedNumeric::CompressedToString(const std::string& packed, std::string& digits) const {
    (void)m_setting;
    digits = BytesToHex(packed);
    if (!digits.empty() && digits.back() == 'F')
        digits.pop_back();
    return 0;
}

} // namespace zarn
