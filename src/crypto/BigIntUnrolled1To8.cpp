// The Montgomery product and square unrolled for 1 to 8 words.
#include "BigIntWords.h"

namespace zarn::bigint {

TWordKernels UnrolledWords1To8(std::size_t n) {
    return KernelsFor<1, 2, 3, 4, 5, 6, 7, 8>(n);
}

} // namespace zarn::bigint
