#include "platform/Errors.h"

namespace zarn {

EDivByZero::EDivByZero() : Exception("Division durch Null") {}

void AssertionFailed(const std::string& message, const char* sourceName, int line) {
    throw EAssertionFailed(message + " (" + sourceName + ", line " + std::to_string(line) + ")");
}

} // namespace zarn
