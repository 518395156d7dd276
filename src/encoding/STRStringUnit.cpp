#include "encoding/STRStringUnit.h"

#include <algorithm>

namespace zarn {

std::string RemoveBlanks(const std::string& text) {
    std::string result = text;
    std::erase(result, ' ');
    std::erase(result, '\xA0');
    return result;
}

std::string PadLeft(char fill, const std::string& text, std::int32_t minimumLength) {
    if (minimumLength <= static_cast<std::int32_t>(std::min<std::size_t>(text.size(), INT32_MAX)))
        return text;
    return std::string(static_cast<std::size_t>(minimumLength) - text.size(), fill) + text;
}

} // namespace zarn
