// The Montgomery product and square unrolled for 13 to 16 words.
#include "BigIntWords.h"

namespace zarn::bigint {

TWordKernels UnrolledWords13To16(std::size_t n) {
    return KernelsFor<13, 14, 15, 16>(n);
}

} // namespace zarn::bigint
